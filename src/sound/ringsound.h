#pragma once

#include <QString>

// The short ring when the pop-up opens, as the "Ring sound" setting asks: at most once
// per call, and never over a ring that still plays. The sound is loaded and the audio
// output opened only when the first call rings; where the build has no audio support,
// calls ring silently.
namespace ringsound {

// The pop-up has been shown for the call with this key (the same for every message
// about one call).
void callShown(const QString& callKey);

} // namespace ringsound
