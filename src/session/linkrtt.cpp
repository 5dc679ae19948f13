#include "session/linkrtt.h"

#if defined(Q_OS_LINUX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

int linkRttMs(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    tcp_info info{};
    socklen_t size = sizeof info;
    if (descriptor < 0 ||
        ::getsockopt(static_cast<int>(descriptor), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return -1;
    return static_cast<int>((info.tcpi_rtt + 999) / 1000); // microseconds
#else
    Q_UNUSED(descriptor);
    return -1;
#endif
}
