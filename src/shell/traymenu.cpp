// The main window's tray menu: the window brought back, the connection's two commands
// and Exit, each doing what its counterpart in the window does.

#include "shell/frmmain.h"

#include <QEvent>
#include <QPointer>

namespace {

// Keeps an action enabled exactly while a widget is.
class EnabledMirror final : public QObject {
public:
    EnabledMirror(QWidget* source, QAction* target) : QObject(source), m_target(target)
    {
        target->setEnabled(source->isEnabled());
        source->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && m_target)
            m_target->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
        return false;
    }

private:
    QPointer<QAction> m_target;
};

} // namespace

void FrmMain::buildTrayMenu()
{
    m_trayMenu.reset(new QMenu);
    m_trayMenu->setObjectName(QStringLiteral("mnuTray"));
    auto addAction = [this](const char* name, const QString& caption) {
        QAction* action = m_trayMenu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    TrayShow = addAction("TrayShow", QStringLiteral("&Show"));
    m_trayMenu->addSeparator();
    TrayConnect = addAction("TrayConnect", QStringLiteral("&Connect"));
    TrayDisconnect = addAction("TrayDisconnect", QStringLiteral("&Disconnect"));
    m_trayMenu->addSeparator();
    TrayExit = addAction("TrayExit", QStringLiteral("E&xit"));

    connect(TrayShow, &QAction::triggered, this, &FrmMain::bringForward);
    // The buttons' own clicks, which do nothing while a button is disabled.
    connect(TrayConnect, &QAction::triggered, cmdConnect[0], &QPushButton::click);
    connect(TrayDisconnect, &QAction::triggered, cmdConnect[1], &QPushButton::click);
    new EnabledMirror(cmdConnect[0], TrayConnect);
    new EnabledMirror(cmdConnect[1], TrayDisconnect);
    // Exit unloads this window: left until the menu, which may run its own event loop,
    // has closed.
    connect(TrayExit, &QAction::triggered, FileExit, &QAction::trigger, Qt::QueuedConnection);

    Tray1->trayIcon()->setContextMenu(m_trayMenu.get());
}
