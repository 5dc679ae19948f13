#pragma once

#include <QString>

// The pop-up's auto-close time: the seconds to count down from, or -1 for none.
// Only a text that reads as a decimal number above 0 starts a countdown; halves round
// to the even neighbour (2.5 gives 2, 3.5 gives 4), so 0.4 counts down from 0.
// Times above a day are capped at a day.
namespace countdown {

inline constexpr int None = -1;
inline constexpr int MaxSeconds = 24 * 60 * 60;

int secondsFor(const QString& closeTime);

} // namespace countdown
