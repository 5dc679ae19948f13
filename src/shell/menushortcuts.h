#pragma once

#include <QList>
#include <QObject>

class QAction;
class QWidget;

// Gives a window's menu shortcuts precedence over the key bindings of its text fields,
// which would otherwise take Ctrl+X as cut and Ctrl+A as select all, so that a menu
// shortcut does nothing while a field has the focus.
class MenuShortcutsFirst final : public QObject {
    Q_OBJECT
public:
    MenuShortcutsFirst(QList<QAction*> actions, QObject* parent);

    // The field no longer claims a key that one of the actions has as its shortcut.
    void watch(QWidget* field);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<QAction*> m_actions;
};
