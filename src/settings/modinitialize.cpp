#include "settings/modinitialize.h"

#include "settings/settingsstore.h"
#include "shell/frmmain.h"

void ApplyStartupSettings()
{
    FrmMain* main = frmMain();
    const QString host = GetSetting(SettingsStore::ClientServerIP);
    main->txtDebug[0]->setText(host.isEmpty() ? QStringLiteral("127.0.0.1") : host);
    const QString port = GetSetting(SettingsStore::ClientPort);
    main->txtDebug[1]->setText(port.isEmpty() ? QStringLiteral("6996") : port);
    if (SettingsStore::isOn(GetSetting(SettingsStore::ClientAutoStart)))
        main->cmdConnect_Click(0);
    if (SettingsStore::isOn(GetSetting(SettingsStore::ClientMinimized)))
        main->MinimizeToTray();
}
