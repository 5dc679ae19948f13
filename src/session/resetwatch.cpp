#ifdef _WIN32
// Windows 10 version 1703, whose TCP state query the watch uses where it is there.
#define NTDDI_VERSION 0x0A000003
#endif

#include "session/resetwatch.h"

#if defined(Q_OS_WIN)
// clang-format off
#include <winsock2.h>
#include <mstcpip.h>
// clang-format on
#elif defined(Q_OS_LINUX)
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

void ResetWatch::attach(qintptr descriptor)
{
    release();
#if defined(Q_OS_WIN)
    // A second descriptor of the same socket. It is only asked, never waited on: an event
    // registration on it would cancel the toolkit's own on the socket.
    WSAPROTOCOL_INFOW info{};
    if (descriptor >= 0 &&
        WSADuplicateSocketW(SOCKET(descriptor), GetCurrentProcessId(), &info) == 0) {
        const SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                       &info, 0, WSA_FLAG_OVERLAPPED);
        if (copy != INVALID_SOCKET)
            m_descriptor = qintptr(copy);
    }
#elif defined(Q_OS_LINUX)
    if (descriptor >= 0)
        m_descriptor = ::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0);
#else
    Q_UNUSED(descriptor)
#endif
}

bool ResetWatch::wasReset() const
{
#if defined(Q_OS_WIN)
    if (m_descriptor < 0)
        return false;
    // As on Linux: after a FIN the socket waits for our close, a reset leaves it closed.
    // Windows tells the state from Windows 10 version 1703 on; before, every end is a close.
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD size = 0;
    if (WSAIoctl(SOCKET(m_descriptor), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info,
                 &size, nullptr, nullptr) != 0)
        return false;
    return info.State == TCPSTATE_CLOSED;
#elif defined(Q_OS_LINUX)
    if (m_descriptor < 0)
        return false;
    // After a FIN the socket waits for our close (CLOSE_WAIT); a reset leaves it CLOSE.
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(m_descriptor), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
#else
    return false;
#endif
}

bool ResetWatch::watches(qintptr descriptor) const
{
#ifdef Q_OS_LINUX
    struct stat mine {};
    struct stat theirs {};
    return m_descriptor >= 0 && descriptor >= 0 && ::fstat(int(m_descriptor), &mine) == 0 &&
           ::fstat(static_cast<int>(descriptor), &theirs) == 0 && mine.st_ino == theirs.st_ino &&
           mine.st_dev == theirs.st_dev;
#else
    Q_UNUSED(descriptor)
    return false;
#endif
}

void ResetWatch::release()
{
#if defined(Q_OS_WIN)
    if (m_descriptor >= 0)
        closesocket(SOCKET(m_descriptor));
#elif defined(Q_OS_LINUX)
    if (m_descriptor >= 0)
        ::close(int(m_descriptor));
#endif
    m_descriptor = -1;
}
