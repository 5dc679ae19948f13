#include "settings/settingsstore.h"

#include <QSettings>

#ifndef Q_OS_WIN
#include "settings/settingsfile.h"
#endif

namespace SettingsStore {

namespace {

const QString Application = QStringLiteral("Quillora");
const QString Section = QStringLiteral("Settings");

// On Windows the registry key that earlier runs wrote; elsewhere it only names the file
// Quillora/Quillora.conf in the user's configuration folder (honouring setPath).
QSettings openStore()
{
#ifdef Q_OS_WIN
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QStringLiteral("VB and VBA Program Settings"), Application);
#else
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, Application, Application);
#endif
}

} // namespace

#ifdef Q_OS_WIN

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

#else

// The file is read and written line by line rather than through QSettings, so that what
// the user wrote by hand reads back as written and is kept; earlier versions, which use
// QSettings, still read every value this writes.

QString GetSetting(const QString& key)
{
    return settingsfile::read(location(), Section, key);
}

bool SaveSetting(const QString& key, const QString& value)
{
    return settingsfile::write(location(), Section, key, value);
}

#endif

bool isOn(const QString& value)
{
    return value == QLatin1String("True");
}

QString location()
{
    return openStore().fileName();
}

} // namespace SettingsStore
