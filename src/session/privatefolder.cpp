#include "session/privatefolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

bool makePrivateFolder(const QString& folder)
{
    QStringList missing;
    for (QString path = QDir(folder).absolutePath(); !QFileInfo::exists(path);) {
        missing.prepend(path);
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return false;
        path = parent;
    }
    constexpr QFileDevice::Permissions OwnerOnly =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    for (const QString& path : std::as_const(missing)) {
        if (!QDir().mkdir(path, OwnerOnly) && !QFileInfo(path).isDir())
            return false;
    }
    return QFileInfo(folder).isDir();
}
