#pragma once

#include <QIcon>

// The program's icon: a blue rounded square with a white "Q" whose tail is a ringing
// handset's signal. Drawn by code at whatever size is asked for, so it stays sharp in
// title bars and in the system tray alike.
QIcon programIcon();

// The same artwork as a scalable SVG document, side x side units, for the icon theme.
QString programIconSvg(int side = 256);

// The icon the desktop's icon theme has for the client ("quillora-client", installed
// with the packages), or the drawn one where the theme has none.
QIcon themedProgramIcon();
