#include "settings/settingsfile.h"

#include "session/privatefolder.h"
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
// The owner's bits, and those that say what this process may do.
constexpr QFileDevice::Permissions OwnerBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                               QFileDevice::WriteUser | QFileDevice::ExeUser;
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

} // namespace

QString read(const QString& path, const QString& section, const QString& key)
{
    return inifile::value(contents(path).value_or(QByteArray()), section, key);
}

bool write(const QString& path, const QString& section, const QString& key, const QString& text)
{
    if (!makePrivateFolder(QFileInfo(path).absolutePath()))
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
    // The file holds the password in clear: whatever mode an older version left it with, it
    // is private once saved, and so is its folder.
    QFile::setPermissions(info.absolutePath(), Private | QFileDevice::ExeOwner);
    if (exists && updated == *old)
        return !(info.permissions() & ~OwnerBits) || QFile::setPermissions(path, Private);

    // The replacement is made private before anything is written to it: the password is
    // never readable by others, not even in its temporary file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(Private))
        return false;
    file.write(updated);
    return file.commit();
}

} // namespace settingsfile
