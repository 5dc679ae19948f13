#include "popup/callalerts.h"

namespace callalerts {

void callShown(const Call& call)
{
    Q_UNUSED(call)
}

} // namespace callalerts
