#pragma once

// A TCP proxy on 127.0.0.1 (OS-chosen port) to the target port on 127.0.0.1, for tests of
// bad links. Its mode applies to every connection, open or new, at any moment:
//   PassThrough  forwards both ways, and a close once all data before it has gone.
//   BlackHole    forwards and closes nothing, as a dead peer or a NAT entry that timed
//                out: what waits goes on in order once the mode changes again.
//   SlowLink     the server's data reaches the client in chunks of at most chunkBytes,
//                one every intervalMs; the client's reaches the server upLatencyMs late.
//   Reset        resets (RST) both sides of every connection, and each new one at once.
// A client whose connection to the target fails is reset. At most about maxBufferedBytes
// wait per connection and direction; beyond that TCP holds the sender back.

#include <QTcpServer>

namespace testsupport {

class ProxyLink;

class FaultProxy final : public QObject {
    Q_OBJECT
public:
    enum class Mode { PassThrough, BlackHole, SlowLink, Reset };

    explicit FaultProxy(quint16 targetPort, qsizetype maxBufferedBytes = 4 * 1024 * 1024);
    ~FaultProxy() override;

    quint16 port() const { return m_server.serverPort(); }
    void setMode(Mode mode);
    // The slow link's figures, and SlowLink as the mode.
    void setSlowLink(qsizetype chunkBytes, int intervalMs, int upLatencyMs = 0);
    // The bytes it forwarded from the clients and from the server, as an eavesdropper on
    // the link sees them (the first 4 MiB each way).
    QByteArray capturedUp() const { return m_captured[1]; }
    QByteArray capturedDown() const { return m_captured[0]; }

private:
    friend class ProxyLink;
    QTcpServer m_server;
    quint16 m_target;
    qsizetype m_maxBuffered;
    Mode m_mode = Mode::PassThrough;
    qsizetype m_chunkBytes = 16 * 1024;
    int m_intervalMs = 100;
    int m_upLatencyMs = 0;
    QList<ProxyLink*> m_links;
    QByteArray m_captured[2];
    const QByteArray& capture(const QByteArray& bytes, bool up)
    {
        if (m_captured[up].size() < 4 * 1024 * 1024)
            m_captured[up] += bytes;
        return bytes;
    }
};

} // namespace testsupport
