#include "settings/settingsfile.h"

#include "settings/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <optional>

namespace settingsfile {

namespace {

constexpr QFileDevice::Permissions Private = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions AnyWrite =
    QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
// How long a write waits for another one, of this program or of an earlier version (which
// takes the same lock through QSettings), to finish.
constexpr int LockWaitMilliseconds = 5000;

// A settings file is a few hundred bytes; one far larger is not read, nor rewritten.
constexpr qint64 MaxFileSize = 1024 * 1024;

// The file's bytes; empty for a missing file, nothing for one that cannot be read.
std::optional<QByteArray> contents(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileSize)
        return std::nullopt;
    return file.read(MaxFileSize);
}

// Write permission as the file's owner set it: the system's answer for this user, and
// at least one write bit, which the system does not ask of the superuser.
bool mayReplace(const QFileInfo& info)
{
    return info.isFile() && info.isWritable() && (info.permissions() & AnyWrite);
}

// Creates the file's folder when missing, with any missing folder above it; each folder
// this creates is its owner's alone, whatever the process's umask.
bool ensureFolder(const QString& folder)
{
    QStringList missing;
    for (QString path = QDir(folder).absolutePath(); !QFileInfo::exists(path);) {
        missing.prepend(path);
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return false;
        path = parent;
    }
    for (const QString& path : missing) {
        if (!QDir().mkdir(path, Private | QFileDevice::ExeOwner) && !QDir(path).exists())
            return false;
    }
    return true;
}

} // namespace

QString read(const QString& path, const QString& section, const QString& key)
{
    return inifile::value(contents(path).value_or(QByteArray()), section, key);
}

bool write(const QString& path, const QString& section, const QString& key, const QString& text)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    QLockFile lock(path + QLatin1String(".lock"));
    if (!lock.tryLock(LockWaitMilliseconds))
        return false;
    const QFileInfo info(path);
    const bool exists = info.exists();
    if (exists && !mayReplace(info))
        return false;
    const std::optional<QByteArray> old = contents(path);
    if (!old)
        return false;
    const QByteArray updated = inifile::withValue(*old, section, key, text);
    if (exists && updated == *old)
        return true;

    // The replacement takes the mode of the file it replaces, so a new file is first
    // made, empty and private: the password is never readable by others, not even in
    // the replacement's temporary file.
    if (!exists && !QFile(path).open(QIODevice::WriteOnly | QIODevice::NewOnly, Private))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(updated);
    return file.commit();
}

} // namespace settingsfile
