#include "session/resetwatch.h"

#ifdef Q_OS_LINUX
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
#ifdef Q_OS_LINUX
    if (descriptor >= 0)
        m_descriptor = ::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0);
#else
    Q_UNUSED(descriptor)
#endif
}

bool ResetWatch::wasReset() const
{
#ifdef Q_OS_LINUX
    if (m_descriptor < 0)
        return false;
    // After a FIN the socket waits for our close (CLOSE_WAIT); a reset leaves it CLOSE.
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(m_descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
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
    return m_descriptor >= 0 && descriptor >= 0 && ::fstat(m_descriptor, &mine) == 0 &&
           ::fstat(static_cast<int>(descriptor), &theirs) == 0 && mine.st_ino == theirs.st_ino &&
           mine.st_dev == theirs.st_dev;
#else
    Q_UNUSED(descriptor)
    return false;
#endif
}

void ResetWatch::release()
{
#ifdef Q_OS_LINUX
    if (m_descriptor >= 0)
        ::close(m_descriptor);
#endif
    m_descriptor = -1;
}
