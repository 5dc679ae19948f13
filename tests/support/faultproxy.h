#pragma once

// A TCP proxy for tests of bad links between a client and a server on this machine.
// It listens on 127.0.0.1 with an OS-chosen port and forwards each connection made to it
// over a connection of its own to the target port on 127.0.0.1. Its mode applies to
// every connection, open or new, and may be changed at any moment:
//
//   PassThrough  forwards both ways as data comes in, and a close once all data before
//                it has gone.
//   BlackHole    forwards nothing and closes nothing, the way a dead peer or a NAT entry
//                that timed out looks: what either side sends waits in the proxy (once
//                that is full, in the sender's own buffers), and so does a close. In
//                another mode again, what waited goes on in order, as TCP would after
//                an outage.
//   SlowLink     the server's data reaches the client in chunks of at most chunkBytes,
//                at most one chunk every intervalMs; the client's data reaches the server
//                upLatencyMs after it came in (0: at once). setSlowLink() sets both.
//   Reset        ends every connection with a reset (RST, through SO_LINGER 0) on both
//                sides; a client that connects while in this mode is reset as soon as
//                it is accepted.
//
// A client whose connection to the target fails is reset as well.
//
// Bounds: per connection and direction, at most maxBufferedBytes wait in each of three
// places: unread in the receiving socket, held back by the latency, and queued for the
// sending socket. Beyond that the proxy stops reading, so TCP's flow control holds back
// the sender.

#include <QList>
#include <QObject>
#include <QTcpServer>

namespace testsupport {

class ProxyLink;

class FaultProxy final : public QObject {
    Q_OBJECT
public:
    enum class Mode { PassThrough, BlackHole, SlowLink, Reset };
    static constexpr qsizetype DefaultMaxBufferedBytes = 4 * 1024 * 1024;

    explicit FaultProxy(quint16 targetPort, qsizetype maxBufferedBytes = DefaultMaxBufferedBytes);
    ~FaultProxy() override;
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    quint16 port() const { return m_server.serverPort(); }
    QString portText() const { return QString::number(port()); }

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    // The slow link's figures, and SlowLink as the mode.
    void setSlowLink(qsizetype chunkBytes, int intervalMs, int upLatencyMs = 0);

    // Client connections not yet ended.
    int connectionCount() const { return int(m_links.size()); }
    // Bytes waiting in the proxy now, and the most that ever waited at once.
    qsizetype bufferedBytes() const;
    qsizetype peakBufferedBytes() const { return m_peak; }

    // For the connections: the figures they follow.
    qsizetype maxBufferedBytes() const { return m_maxBuffered; }
    qsizetype chunkBytes() const { return m_chunkBytes; }
    int intervalMs() const { return m_intervalMs; }
    int upLatencyMs() const { return m_upLatencyMs; }
    void notePeak();

private:
    void onNewConnection();

    QTcpServer m_server;
    quint16 m_target;
    qsizetype m_maxBuffered;
    Mode m_mode = Mode::PassThrough;
    qsizetype m_chunkBytes = 16 * 1024;
    int m_intervalMs = 100;
    int m_upLatencyMs = 0;
    QList<ProxyLink*> m_links;
    qsizetype m_peak = 0;
};

} // namespace testsupport
