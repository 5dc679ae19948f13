#include "shell/menushortcuts.h"

#include <QAction>
#include <QKeyEvent>
#include <QWidget>

MenuShortcutsFirst::MenuShortcutsFirst(QList<QAction*> actions, QObject* parent)
    : QObject(parent), m_actions(std::move(actions))
{
}

void MenuShortcutsFirst::watch(QWidget* field)
{
    field->installEventFilter(this);
}

bool MenuShortcutsFirst::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (const QAction* action : m_actions) {
        if (action->shortcuts().contains(pressed)) {
            // Not claimed by the field: the shortcut map hands the key to the action.
            event->ignore();
            return true;
        }
    }
    return false;
}
