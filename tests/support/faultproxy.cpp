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
        // While the target is still being connected to, the client's bytes wait.
        const qint64 up = m_serverUp ? move(*m_client, m_server, m_up, true, slow, at) : -1;
        const qint64 down = move(m_server, *m_client, m_down, false, slow, at);
        const qint64 wake = up < 0 ? down : down < 0 ? up : std::min(up, down);
        if (wake >= 0)
            m_wake.start(int(std::max<qint64>(wake - at, 0)));
        else
            m_wake.stop();

        // A side that closed is closed on the other side once all it sent has gone on.
        const bool clientGone = m_client->state() == QAbstractSocket::UnconnectedState;
        const bool serverGone = m_serverUp && m_server.state() == QAbstractSocket::UnconnectedState;
        if (clientGone && m_client->bytesAvailable() == 0 && m_up.pieces.empty() &&
            m_server.state() == QAbstractSocket::ConnectedState)
            m_server.disconnectFromHost();
        if (serverGone && m_server.bytesAvailable() == 0 && m_down.pieces.empty() &&
            m_client->state() == QAbstractSocket::ConnectedState)
            m_client->disconnectFromHost();
        if (clientGone && serverGone)
            end();
    }

private:
    // One direction's bytes taken from their sender, each piece with the time it is due.
    struct Flow {
        std::deque<std::pair<qint64, QByteArray>> pieces; // when due, what
        qsizetype bytes = 0;
        qint64 lastTakenAt = -1;
    };

    // Moves what is due; the time the next piece is, or -1. On a slow link the server's
    // bytes go in chunks, one an interval, and the client's pieces each go that late.
    qint64 move(QTcpSocket& from, QTcpSocket& to, Flow& flow, bool up, bool slow, qint64 at)
    {
        if (to.state() != QAbstractSocket::ConnectedState) {
            (void)from.readAll(); // nothing can reach it any more
            flow = {};
            return -1;
        }
        const bool chunked = slow && !up;
        const qint64 interval = chunked ? m_proxy.m_intervalMs : 0;
        // The interval counts from the last chunk, so a new interval applies at once.
        const qint64 next = flow.lastTakenAt < 0 ? at : flow.lastTakenAt + interval;
        const qsizetype room = m_proxy.m_maxBuffered - flow.bytes - to.bytesToWrite();
        if (from.bytesAvailable() > 0 && room > 0 && next <= at) {
            const qsizetype most = chunked ? std::min(room, m_proxy.m_chunkBytes) : room;
            const qint64 due = slow && up ? at + m_proxy.m_upLatencyMs : at;
            flow.pieces.emplace_back(due, m_proxy.capture(from.read(most), up));
            flow.bytes += flow.pieces.back().second.size();
            flow.lastTakenAt = at;
        }
        while (!flow.pieces.empty() && flow.pieces.front().first <= at) {
            flow.bytes -= flow.pieces.front().second.size();
            to.write(flow.pieces.front().second);
            flow.pieces.pop_front();
        }
        if (!flow.pieces.empty())
            return flow.pieces.front().first;
        // Else the next chunk, unless the receiver is full: then its bytesWritten wakes the link.
        const bool roomLeft = m_proxy.m_maxBuffered - flow.bytes - to.bytesToWrite() > 0;
        return from.bytesAvailable() > 0 && roomLeft && chunked ? flow.lastTakenAt + interval : -1;
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
    Flow m_up;
    Flow m_down;
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
