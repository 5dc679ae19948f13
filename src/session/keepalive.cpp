#include "session/keepalive.h"

#if defined(Q_OS_WIN)
// The socket header first, the extensions after it.
#include <winsock2.h>

#include <mstcpip.h>
#include <ws2tcpip.h>
#elif defined(Q_OS_UNIX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace keepalive {

Times& times()
{
    static Times current;
    return current;
}

bool apply(qintptr descriptor, const Times& t)
{
#if defined(Q_OS_WIN)
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(t.idleSeconds) * 1000;
    values.keepaliveinterval = static_cast<ULONG>(t.intervalSeconds) * 1000;
    DWORD returned = 0;
    const auto socket = static_cast<SOCKET>(descriptor);
    bool ok = WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                       nullptr, nullptr) == 0;
    const auto set = [socket](int option, int value) {
        const DWORD dword = static_cast<DWORD>(value);
        return setsockopt(socket, IPPROTO_TCP, option, reinterpret_cast<const char*>(&dword),
                          sizeof dword) == 0;
    };
    // The number of probes is fixed at ten unless the system lets it be set (Windows 10
    // 1703 on). Unacknowledged data is given up after whole seconds. Older headers lack
    // both option numbers.
#ifndef TCP_KEEPCNT
    constexpr int TCP_KEEPCNT = 16;
#endif
#ifndef TCP_MAXRT
    constexpr int TCP_MAXRT = 5;
#endif
    ok = set(TCP_KEEPCNT, t.probes) && ok;
    ok = set(TCP_MAXRT, (t.userTimeoutMs + 999) / 1000) && ok;
    return ok;
#elif defined(Q_OS_UNIX)
    const int fd = static_cast<int>(descriptor);
    const auto set = [fd](int level, int option, int value) {
        return ::setsockopt(fd, level, option, &value, sizeof value) == 0;
    };
    bool ok = set(SOL_SOCKET, SO_KEEPALIVE, 1);
#if defined(Q_OS_LINUX)
    ok = set(IPPROTO_TCP, TCP_KEEPIDLE, t.idleSeconds) && ok;
    ok = set(IPPROTO_TCP, TCP_KEEPINTVL, t.intervalSeconds) && ok;
    ok = set(IPPROTO_TCP, TCP_KEEPCNT, t.probes) && ok;
    ok = set(IPPROTO_TCP, TCP_USER_TIMEOUT, t.userTimeoutMs) && ok;
#else
    Q_UNUSED(t)
#endif
    return ok;
#else
    Q_UNUSED(descriptor)
    Q_UNUSED(t)
    return false;
#endif
}

} // namespace keepalive
