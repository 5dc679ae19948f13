#include "settings/modinitialize.h"

#include "settings/autostart.h"
#include "settings/settingsstore.h"
#include "shell/frmmain.h"

void ApplyStartupSettings()
{
    FrmMain* main = frmMain();
    // The login entry follows the stored setting, also when the file was edited by hand.
    if (!autostart::sync(SettingsStore::isOn(GetSetting(SettingsStore::ClientStartAtLogin))))
        main->txtOut(
            QStringLiteral("Start at login: could not update %1.").arg(autostart::entryPath()));
    const QString host = GetSetting(SettingsStore::ClientServerIP);
    main->txtDebug[0]->setText(host.isEmpty() ? QStringLiteral("127.0.0.1") : host);
    const QString port = GetSetting(SettingsStore::ClientPort);
    main->txtDebug[1]->setText(port.isEmpty() ? QStringLiteral("6996") : port);
    if (SettingsStore::isOn(GetSetting(SettingsStore::ClientAutoStart)))
        main->cmdConnect_Click(0);
    if (SettingsStore::isOn(GetSetting(SettingsStore::ClientMinimized)))
        main->MinimizeToTray();
}
