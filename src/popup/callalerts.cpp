#include "popup/callalerts.h"

#include "notify/desktopnotifier.h"
#include "sound/ringsound.h"

namespace callalerts {

void callShown(const Call& call)
{
    desktopnotifier::call(call.key, call.number, call.name);
    ringsound::callShown(call.key);
}

} // namespace callalerts
