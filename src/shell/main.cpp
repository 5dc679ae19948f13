#include "shell/frmmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    // The client lives on in the tray while its windows are hidden; it ends when the
    // main window is unloaded.
    QApplication::setQuitOnLastWindowClosed(false);

    FrmMain* main = frmMain();
    QObject::connect(main, &QObject::destroyed, &app, &QCoreApplication::quit);
    if (!main->isHiddenInTray())
        main->show();
    return QApplication::exec();
}
