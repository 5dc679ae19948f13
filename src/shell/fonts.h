#pragma once

#include <QFont>

// The windows' design font, "MS Sans Serif", mapped to a metric-compatible sans-serif
// face where the desktop has one, else the platform's default sans-serif.
QFont designFont(qreal pointSize, bool bold = false);

// The fixed-pitch font of the address fields and the log pane.
QFont fixedPitchFont(qreal pointSize = 8.25);
