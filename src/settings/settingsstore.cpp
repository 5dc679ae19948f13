#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace SettingsStore {

namespace {

const QString Application = QStringLiteral("Quillora");
const QString Section = QStringLiteral("Settings");

// On Windows the registry key that earlier runs wrote; elsewhere an INI file
// Quillora/Quillora.conf in the user's configuration folder.
QSettings openStore()
{
#ifdef Q_OS_WIN
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QStringLiteral("VB and VBA Program Settings"), Application);
#else
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, Application, Application);
#endif
}

// The store holds the password in plain text: make sure only its owner can read it,
// before anything is written into it.
bool ensurePrivateFile(const QString& path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return true;
#endif
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (!info.exists()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return false;
        file.close();
    }
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

QString GetSetting(const QString& key)
{
    const QSettings store = openStore();
    const QVariant value = store.value(Section + QLatin1Char('/') + key);
    // A hand-edited value with an unquoted comma reads back as a list; keep it as text.
    if (value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList)
        return value.toStringList().join(QLatin1String(", "));
    return value.toString();
}

bool SaveSetting(const QString& key, const QString& value)
{
    QSettings store = openStore();
    if (!ensurePrivateFile(store.fileName()))
        return false;
    const QString path = Section + QLatin1Char('/') + key;
    const QVariant previous = store.value(path);
    store.setValue(path, value);
    store.sync();
    if (store.status() == QSettings::NoError)
        return true;
    // Not stored: take the value back out of Qt's shared cache, so that neither this run
    // nor a later write uses a setting the user was told was not saved.
    if (previous.isValid())
        store.setValue(path, previous);
    else
        store.remove(path);
    return false;
}

bool isOn(const QString& value)
{
    return value == QLatin1String("True");
}

QString location()
{
    return openStore().fileName();
}

} // namespace SettingsStore
