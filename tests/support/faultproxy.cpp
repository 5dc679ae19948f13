#include "faultproxy.h"

#include "testkit.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <deque>

namespace testsupport {

static void resetSocket(QTcpSocket* socket)
{
    testkit::resetOnClose(socket->socketDescriptor());
    socket->abort();
}

// One client connection and the proxy's own connection to the target.
class ProxyLink final : public QObject {
public:
    ProxyLink(QTcpSocket* client, FaultProxy& proxy) : m_proxy(proxy), m_client(client)
    {
        client->setParent(this);
        m_wake.setSingleShot(true);
        m_wake.setTimerType(Qt::PreciseTimer);
        connect(&m_wake, &QTimer::timeout, this, &ProxyLink::pump);
        for (QTcpSocket* socket : {client, &m_server}) {
            socket->setReadBufferSize(proxy.m_maxBuffered);
            connect(socket, &QTcpSocket::readyRead, this, &ProxyLink::pump);
            connect(socket, &QTcpSocket::bytesWritten, this, &ProxyLink::pump);
            connect(socket, &QTcpSocket::disconnected, this, &ProxyLink::pump);
        }
        connect(&m_server, &QTcpSocket::connected, this, [this] {
            m_serverUp = true;
            pump();
        });
        connect(
            &m_server, &QTcpSocket::errorOccurred, this,
            [this] {
                if (!m_serverUp)
                    reset(); // the target could not be reached
            },
            Qt::QueuedConnection);
        m_server.connectToHost(QHostAddress::LocalHost, proxy.m_target);
    }
    ~ProxyLink() override
    {
        for (QTcpSocket* socket : {m_client, &m_server})
            QObject::disconnect(socket, nullptr, this, nullptr);
    }

    void reset()
    {
        if (m_done)
            return;
        resetSocket(m_client);
        resetSocket(&m_server);
        end();
    }

    // Moves what the mode lets through, then sleeps until the next chunk or delayed piece
    // is due, or until a socket has news.
    void pump()
    {
        if (m_done || m_proxy.m_mode == FaultProxy::Mode::BlackHole)
            return;
        if (m_proxy.m_mode == FaultProxy::Mode::Reset) {
            reset();
            return;
        }
        const bool slow = m_proxy.m_mode == FaultProxy::Mode::SlowLink;
        const qint64 at = QDeadlineTimer::current().deadline();
        const qint64 up = moveUp(slow, at);
        const qint64 down = moveDown(slow, at);
        const qint64 wake = up < 0 ? down : down < 0 ? up : std::min(up, down);
        if (wake >= 0)
            m_wake.start(int(std::max<qint64>(wake - at, 0)));
        else
            m_wake.stop();

        // A side that closed is closed on the other side once all it sent has gone on.
        const bool clientGone = m_client->state() == QAbstractSocket::UnconnectedState;
        const bool serverGone = m_serverUp && m_server.state() == QAbstractSocket::UnconnectedState;
        if (clientGone && m_client->bytesAvailable() == 0 && m_delayed.empty() &&
            m_server.state() == QAbstractSocket::ConnectedState)
            m_server.disconnectFromHost();
        if (serverGone && m_server.bytesAvailable() == 0 &&
            m_client->state() == QAbstractSocket::ConnectedState)
            m_client->disconnectFromHost();
        if (clientGone && serverGone)
            end();
    }

private:
    struct Delayed {
        qint64 due;
        QByteArray bytes;
    };

    // Client to server, each piece held back by the latency; the time the next is due.
    qint64 moveUp(bool slow, qint64 at)
    {
        if (!m_serverUp)
            return -1; // still connecting: everything waits
        if (m_server.state() != QAbstractSocket::ConnectedState) {
            (void)m_client->readAll(); // nothing can reach the server any more
            m_delayed.clear();
            return -1;
        }
        const int latency = slow ? m_proxy.m_upLatencyMs : 0;
        if (m_client->bytesAvailable() > 0 && m_delayedBytes < m_proxy.m_maxBuffered) {
            m_delayed.push_back(
                {at + latency, m_proxy.capture(m_client->read(m_proxy.m_maxBuffered), true)});
            m_delayedBytes += m_delayed.back().bytes.size();
        }
        while (!m_delayed.empty() && m_delayed.front().due <= at &&
               m_server.bytesToWrite() < m_proxy.m_maxBuffered) {
            m_server.write(m_delayed.front().bytes);
            m_delayedBytes -= m_delayed.front().bytes.size();
            m_delayed.pop_front();
        }
        return !m_delayed.empty() && m_delayed.front().due > at ? m_delayed.front().due : -1;
    }

    // Server to client, in chunks on a slow link; the time the next chunk is due.
    qint64 moveDown(bool slow, qint64 at)
    {
        if (m_client->state() != QAbstractSocket::ConnectedState) {
            (void)m_server.readAll();
            return -1;
        }
        const qsizetype room = m_proxy.m_maxBuffered - m_client->bytesToWrite();
        if (m_server.bytesAvailable() == 0 || room <= 0)
            return -1; // the client's bytesWritten wakes the link
        if (!slow) {
            m_client->write(m_proxy.capture(m_server.read(room), false));
            return -1;
        }
        // The interval counts from the last chunk, so a new interval applies at once.
        const qint64 next = m_lastChunkAt < 0 ? at : m_lastChunkAt + m_proxy.m_intervalMs;
        if (at < next)
            return next;
        m_client->write(
            m_proxy.capture(m_server.read(std::min(room, m_proxy.m_chunkBytes)), false));
        m_lastChunkAt = at;
        return m_server.bytesAvailable() > 0 ? at + m_proxy.m_intervalMs : -1;
    }

    void end()
    {
        m_done = true;
        m_wake.stop();
        m_proxy.m_links.removeOne(this);
        deleteLater();
    }

    FaultProxy& m_proxy;
    QTcpSocket* m_client;
    QTcpSocket m_server;
    QTimer m_wake;
    std::deque<Delayed> m_delayed;
    qsizetype m_delayedBytes = 0;
    qint64 m_lastChunkAt = -1;
    bool m_serverUp = false;
    bool m_done = false;
};

FaultProxy::FaultProxy(quint16 targetPort, qsizetype maxBufferedBytes)
    : m_target(targetPort), m_maxBuffered(maxBufferedBytes)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* client = m_server.nextPendingConnection()) {
            if (m_mode == Mode::Reset) {
                resetSocket(client);
                client->deleteLater();
            } else {
                m_links.append(new ProxyLink(client, *this));
            }
        }
    });
}

FaultProxy::~FaultProxy()
{
    qDeleteAll(std::exchange(m_links, {}));
}

void FaultProxy::setMode(Mode mode)
{
    m_mode = mode;
    // A reset ends every link now; other modes move what waited, from the event loop.
    for (ProxyLink* link : QList<ProxyLink*>(m_links)) {
        if (mode == Mode::Reset)
            link->reset();
        else
            QMetaObject::invokeMethod(link, &ProxyLink::pump, Qt::QueuedConnection);
    }
}

void FaultProxy::setSlowLink(qsizetype chunkBytes, int intervalMs, int upLatencyMs)
{
    m_chunkBytes = std::max<qsizetype>(chunkBytes, 1);
    m_intervalMs = std::max(intervalMs, 0);
    m_upLatencyMs = std::max(upLatencyMs, 0);
    setMode(Mode::SlowLink);
}

} // namespace testsupport
