#pragma once

#include <QtGlobal>

// Tells a connection the peer reset (RST) from one it closed in order (FIN). The
// toolkit reports both alike, and by the time it does, it has closed its descriptor;
// so the watch holds a second descriptor of the same socket and asks the kernel for
// the connection's state once the toolkit has let go. Where the platform cannot tell,
// every end counts as an orderly close.
class ResetWatch final {
public:
    ResetWatch() = default;
    ~ResetWatch() { release(); }
    ResetWatch(const ResetWatch&) = delete;
    ResetWatch& operator=(const ResetWatch&) = delete;

    // Starts watching the connection behind the descriptor (a connected TCP socket).
    void attach(qintptr descriptor);

    // Whether the watched connection ended by a reset. False when nothing is watched.
    bool wasReset() const;

    // The watch's own descriptor of the socket (-1 when nothing is watched), and whether
    // the given descriptor is the same socket. (On Windows the copy serves wasReset() only:
    // waiting on it would take the socket's events from the toolkit, so it is never
    // offered here.)
    qintptr descriptor() const
    {
#ifdef Q_OS_WIN
        return -1;
#else
        return m_descriptor;
#endif
    }
    bool watches(qintptr descriptor) const;

    // Stops watching. While the watch holds the socket the connection stays open even
    // though the toolkit has closed its own descriptor, so every close must end here.
    void release();

private:
    qintptr m_descriptor = -1;
};
