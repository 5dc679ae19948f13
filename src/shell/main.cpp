#include "shell/clientoptions.h"
#include "shell/frmmain.h"
#include "shell/platformchoice.h"
#include "shell/singleinstance.h"

#include <QApplication>
#include <cstdio>
#include <vector>

namespace {

// Prints what the command line asked for and gives the exit code.
int answer(const ClientOptions& options)
{
    const bool error = options.mode == ClientOptions::Mode::Error;
    std::fputs(options.text.toLocal8Bit().constData(), error ? stderr : stdout);
    return error ? 2 : 0;
}

void warn(const QString& text)
{
    std::fprintf(stderr, "quillora-client: %s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[])
{
    // The command line is answered before the application object exists, which needs a
    // display: help, version and mistakes print without one. Qt's own options pass here
    // and are taken by the application object.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    const ClientOptions early = parseClientOptions(raw);
    if (early.mode != ClientOptions::Mode::Run)
        return answer(early);

    // The platform goes in as a command-line option rather than through QT_QPA_PLATFORM,
    // which programs the client opens (a browser) would inherit.
    const PlatformChoice platform = choosePlatform(QProcessEnvironment::systemEnvironment(), raw);
    QByteArray platformOption("-platform");
    QByteArray platformName = platform.platform.toLocal8Bit();
    std::vector<char*> args(argv, argv + argc);
    if (!platformName.isEmpty())
        args.insert(args.begin() + 1, {platformOption.data(), platformName.data()});
    args.push_back(nullptr);
    int count = static_cast<int>(args.size()) - 1;
    QApplication app(count, args.data());
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    // Wayland desktops match the window to its launcher, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillora-client"));
    // The client lives on in the tray while its windows are hidden; it ends when the
    // main window is unloaded.
    QApplication::setQuitOnLastWindowClosed(false);

    const ClientOptions options = parseClientOptions(QApplication::arguments());
    if (options.mode != ClientOptions::Mode::Run)
        return answer(options);

    // One client per user: a second start brings the first one forward and ends.
    SingleInstance instance;
    const SingleInstance::Role role = instance.start();
    if (!instance.problem().isEmpty())
        warn(instance.problem());
    if (role == SingleInstance::Role::Activated)
        return 0;
    if (role == SingleInstance::Role::NoAnswer)
        return 1;

    FrmMain* main = frmMain();
    if (platform.nativeWayland)
        main->txtOut(
            QStringLiteral("Wayland without X: the pop-up goes where the desktop puts it."));
    QObject::connect(main, &QObject::destroyed, &app, &QCoreApplication::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, main, &FrmMain::bringForward);
    if (!main->isHiddenInTray())
        main->show();
    return QApplication::exec();
}
