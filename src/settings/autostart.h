#pragma once

#include <QByteArray>
#include <QString>

// "Start at login": the entry that the desktop runs at login. On Linux it is a file in the
// user's autostart folder, the package's own launcher, so the client starts as from the
// menu; on Windows it is the value "Quillora Client" of the user's Run key, the program's
// quoted path.
namespace autostart {

// $XDG_CONFIG_HOME/autostart/quillora-client.desktop, with ~/.config where that variable
// is unset or not an absolute path; on Windows the Run key.
QString entryPath();

// The package's launcher with what an autostart entry adds to it; on Windows the Run
// value's text.
QByteArray entryContent();

// Makes the entry exist exactly when `on`: written (atomically, only when it differs) or
// removed. False when that could not be done.
bool sync(bool on);

} // namespace autostart
