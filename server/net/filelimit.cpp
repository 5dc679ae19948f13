#include "filelimit.h"

#include <algorithm>
#include <sys/resource.h>

namespace filelimit {

long long raiseToHard()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long long>(limit.rlim_cur);
}

int clientsWithin(int wanted, long long fileLimit)
{
    if (fileLimit < 0)
        return wanted;
    return static_cast<int>(std::clamp<long long>(fileLimit - Reserved, 1, wanted));
}

} // namespace filelimit
