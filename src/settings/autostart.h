#pragma once

#include <QByteArray>
#include <QString>

// "Start at login": the entry in the user's autostart folder that the desktop runs at
// login. It is the package's own launcher, so the client starts as from the menu.
namespace autostart {

// $XDG_CONFIG_HOME/autostart/quillora-client.desktop, with ~/.config where that variable
// is unset or not an absolute path.
QString entryPath();

// The package's launcher with what an autostart entry adds to it.
QByteArray entryContent();

// Makes the entry exist exactly when `on`: written (atomically, only when it differs) or
// removed. False when that could not be done.
bool sync(bool on);

} // namespace autostart
