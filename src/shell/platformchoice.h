#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The Qt platform the client asks for, decided from the environment and the command line
// before the application object exists.
struct PlatformChoice {
    // Given to Qt as "-platform"; empty leaves the choice to Qt (and to the user).
    QString platform;
    // The client will draw on Wayland itself, where the compositor alone places windows:
    // the pop-up cannot keep its corner, and the log says so once.
    bool nativeWayland = false;
};

// In a Wayland session with an X server at hand (XWayland), the client runs on X: there
// the pop-up keeps its place at the top right and stays on top. Without X it runs on
// Wayland. A platform named by QT_QPA_PLATFORM or "-platform NAME" is left as it is.
PlatformChoice choosePlatform(const QProcessEnvironment& env, const QStringList& args);

// The client runs on X inside a Wayland session (XWayland). The X window manager there is
// the compositor's, and Weston's neither keeps a utility window where it asks to be nor
// keeps any window above another; windows that bypass it are placed where they ask and
// shown above the others, as a desktop's own X window manager does with them too.
bool onXWayland();
