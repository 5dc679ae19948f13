#include "popup/countdown.h"

#include <QLocale>
#include <cmath>

namespace countdown {

int secondsFor(const QString& closeTime)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(closeTime.trimmed(), &ok);
    if (!ok || !std::isfinite(value) || value <= 0.0)
        return None;
    if (value >= MaxSeconds)
        return MaxSeconds;
    // Round half to even, independent of the current floating-point rounding mode.
    const double floor = std::floor(value);
    const double fraction = value - floor;
    double rounded = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0))
        rounded = floor + 1.0;
    return static_cast<int>(rounded);
}

} // namespace countdown
