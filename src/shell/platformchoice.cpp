#include "shell/platformchoice.h"

#include <QGuiApplication>

namespace {

// The platform the user named: "-platform NAME" (or "--platform NAME") as Qt reads the
// command line, the last one winning, else QT_QPA_PLATFORM.
QString namedPlatform(const QProcessEnvironment& env, const QStringList& args)
{
    QString named;
    for (qsizetype i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("-platform") || args[i] == QLatin1String("--platform"))
            named = args[++i];
    return named.isEmpty() ? env.value(QStringLiteral("QT_QPA_PLATFORM")) : named;
}

// A session that says it is Wayland but names no socket has the default one
// ("wayland-0"); a socket named outside such a session is Wayland all the same.
bool waylandSession(const QProcessEnvironment& env)
{
    return !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
           env.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
}

} // namespace

PlatformChoice choosePlatform(const QProcessEnvironment& env, const QStringList& args)
{
    const QString named = namedPlatform(env, args);
    if (!named.isEmpty())
        return {QString(), named.startsWith(QLatin1String("wayland"))};
    if (!waylandSession(env))
        return {};
    if (!env.value(QStringLiteral("DISPLAY")).isEmpty())
        return {QStringLiteral("xcb"), false};
    return {QStringLiteral("wayland"), true};
}

bool onXWayland()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           waylandSession(QProcessEnvironment::systemEnvironment());
}
