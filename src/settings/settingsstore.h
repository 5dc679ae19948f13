#pragma once

#include <QString>

// The per-user settings store: text values under application "Quillora", section
// "Settings". A missing key reads as the empty text; defaults are never written back.
namespace SettingsStore {

inline const QString ClientServerIP = QStringLiteral("ClientServerIP");
inline const QString ClientPort = QStringLiteral("ClientPort");
inline const QString ClientServerPassword = QStringLiteral("ClientServerPassword");
inline const QString ClientAutoStart = QStringLiteral("ClientAutoStart");
inline const QString ClientPopUpClose = QStringLiteral("ClientPopUpClose");
inline const QString ClientPopUpCloseTime = QStringLiteral("ClientPopUpCloseTime");
inline const QString ClientReconnect = QStringLiteral("ClientReconnect");
inline const QString ClientReconnectAttemps = QStringLiteral("ClientReconnectAttemps");
inline const QString ClientMinimized = QStringLiteral("ClientMinimized");
// TLS to the server, and the server's key trusted on first use: its pin and the
// "host:port" it was trusted for.
inline const QString ClientTls = QStringLiteral("ClientTls");
inline const QString ClientTlsPin = QStringLiteral("ClientTlsPin");
inline const QString ClientTlsPinServer = QStringLiteral("ClientTlsPinServer");
// Each call also told through the desktop's notification service; a short sound when the
// pop-up opens; the client started when the user logs in.
inline const QString ClientDesktopNotify = QStringLiteral("ClientDesktopNotify");
inline const QString ClientRingSound = QStringLiteral("ClientRingSound");
inline const QString ClientStartAtLogin = QStringLiteral("ClientStartAtLogin");

// The stored text, or "" when the key was never written.
QString GetSetting(const QString& key);

// Stores the text; false when the store could not be written.
bool SaveSetting(const QString& key, const QString& value);

// A flag is on only when it holds exactly "True".
bool isOn(const QString& value);

// The file that holds the store (for diagnostics and tests).
QString location();

} // namespace SettingsStore

using SettingsStore::GetSetting;
using SettingsStore::SaveSetting;
