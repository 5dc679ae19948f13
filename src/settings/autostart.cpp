#include "settings/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace autostart {

#ifdef Q_OS_WIN

namespace {
const QString RunValue = QStringLiteral("Quillora Client");
}

QString entryPath()
{
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
}

QByteArray entryContent()
{
    // Quoted: the program folder may have spaces in its name.
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    return (QLatin1Char('"') + program + QLatin1Char('"')).toUtf8();
}

bool sync(bool on)
{
    QSettings run(entryPath(), QSettings::NativeFormat);
    if (on && run.value(RunValue).toByteArray() != entryContent())
        run.setValue(RunValue, QString::fromUtf8(entryContent()));
    else if (!on && run.contains(RunValue))
        run.remove(RunValue);
    run.sync();
    return run.status() == QSettings::NoError;
}

#else

QString entryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/quillora-client.desktop");
}

QByteArray entryContent()
{
    // Built into the client from packaging/quillora-client.desktop.
    QFile launcher(QStringLiteral(":/quillora/quillora-client.desktop"));
    if (!launcher.open(QIODevice::ReadOnly))
        return {};
    QByteArray content = launcher.readAll();
    const QByteArray group = "[Desktop Entry]\n";
    const qsizetype at = content.indexOf(group);
    if (at < 0)
        return {};
    return content.insert(at + group.size(), "X-GNOME-Autostart-enabled=true\n");
}

bool sync(bool on)
{
#ifndef Q_OS_MACOS
    const QString path = entryPath();
    if (!on)
        return QFile::remove(path) || !QFileInfo::exists(path);
    const QByteArray content = entryContent();
    if (content.isEmpty())
        return false;
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.read(content.size() + 1) == content)
        return true;
    current.close();
    QSaveFile entry(path);
    return QDir().mkpath(QFileInfo(path).path()) && entry.open(QIODevice::WriteOnly) &&
           entry.write(content) == content.size() && entry.commit();
#else
    // Other systems keep their login items elsewhere; nothing is written there yet.
    Q_UNUSED(on)
    return true;
#endif
}

#endif

} // namespace autostart
