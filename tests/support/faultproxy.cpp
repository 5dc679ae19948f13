#include "faultproxy.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <sys/socket.h>

namespace testsupport {

namespace {

// Closes the socket with a reset instead of an orderly close.
void resetSocket(QTcpSocket* socket)
{
    if (socket->socketDescriptor() >= 0) {
        const linger hard{1, 0};
        ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                     sizeof hard);
    }
    socket->abort();
}

qint64 now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

// One client connection and the proxy's own connection to the target.
class ProxyLink final : public QObject {
public:
    using Ended = std::function<void(ProxyLink*)>;

    ProxyLink(QTcpSocket* client, quint16 target, FaultProxy* proxy, Ended ended)
        : m_proxy(proxy),
          m_ended(std::move(ended)), m_up{client, &m_server, true}, m_down{&m_server, client, false}
    {
        client->setParent(this);
        m_wake.setSingleShot(true);
        m_wake.setTimerType(Qt::PreciseTimer);
        connect(&m_wake, &QTimer::timeout, this, &ProxyLink::pump);
        for (QTcpSocket* socket : {client, &m_server}) {
            socket->setReadBufferSize(proxy->maxBufferedBytes());
            connect(socket, &QTcpSocket::readyRead, this, &ProxyLink::pump);
            connect(socket, &QTcpSocket::bytesWritten, this, &ProxyLink::pump);
            connect(socket, &QTcpSocket::disconnected, this, &ProxyLink::pump);
        }
        connect(&m_server, &QTcpSocket::connected, this, [this] {
            m_serverWasConnected = true;
            pump();
        });
        connect(
            &m_server, &QTcpSocket::errorOccurred, this,
            [this] {
                if (!m_serverWasConnected)
                    reset(); // the target could not be reached
            },
            Qt::QueuedConnection);
        m_target = target;
    }

    // Connects to the target; the link may end from here on.
    void start() { m_server.connectToHost(QHostAddress::LocalHost, m_target); }

    ~ProxyLink() override
    {
        // The sockets go with the link; their last signals are none of its business.
        for (QTcpSocket* socket : {m_up.from, &m_server})
            QObject::disconnect(socket, nullptr, this, nullptr);
    }

    qsizetype buffered() const { return m_up.buffered() + m_down.buffered(); }

    void reset()
    {
        if (m_done)
            return;
        m_done = true;
        resetSocket(m_up.from);
        resetSocket(&m_server);
        end();
    }

    // Moves what the mode lets through, then sleeps until the next chunk or delayed piece
    // is due, or until a socket has news.
    void pump()
    {
        if (m_done)
            return;
        m_proxy->notePeak();
        if (m_proxy->mode() == FaultProxy::Mode::Reset) {
            reset();
            return;
        }
        if (m_proxy->mode() == FaultProxy::Mode::BlackHole)
            return;
        const qint64 at = now();
        qint64 wake = -1;
        for (Direction* d : {&m_up, &m_down}) {
            const qint64 due = move(*d, at);
            if (due >= 0 && (wake < 0 || due < wake))
                wake = due;
        }
        m_proxy->notePeak();
        if (wake >= 0)
            m_wake.start(int(std::max<qint64>(wake - at, 0)));
        else
            m_wake.stop();
        finishIfClosed();
    }

private:
    struct Delayed {
        qint64 due;
        QByteArray bytes;
    };
    struct Direction {
        Direction(QTcpSocket* source, QTcpSocket* sink, bool clientToServer)
            : from(source), to(sink), up(clientToServer)
        {
        }
        QTcpSocket* from;
        QTcpSocket* to;
        bool up; // client to server
        std::deque<Delayed> delayed;
        qsizetype delayedBytes = 0;
        qint64 lastChunkAt = -1;

        qsizetype buffered() const
        {
            return from->bytesAvailable() + delayedBytes + to->bytesToWrite();
        }
        bool drained() const { return from->bytesAvailable() == 0 && delayed.empty(); }
    };

    // Moves what may go now; the time something more will be due, or -1.
    qint64 move(Direction& d, qint64 at)
    {
        if (d.to->state() != QAbstractSocket::ConnectedState) {
            if (d.to == &m_server && !m_serverWasConnected)
                return -1;           // still connecting: everything waits
            (void)d.from->readAll(); // the receiver is gone: nothing can reach it
            d.delayed.clear();
            d.delayedBytes = 0;
            return -1;
        }
        const bool slow = m_proxy->mode() == FaultProxy::Mode::SlowLink;
        const qsizetype max = m_proxy->maxBufferedBytes();
        const auto room = [&] { return std::max<qsizetype>(max - d.to->bytesToWrite(), 0); };

        if (slow && d.up && m_proxy->upLatencyMs() > 0) {
            while (d.from->bytesAvailable() > 0 && d.delayedBytes < max) {
                const QByteArray bytes = d.from->read(max - d.delayedBytes);
                d.delayed.push_back({at + m_proxy->upLatencyMs(), bytes});
                d.delayedBytes += bytes.size();
            }
        }
        while (!d.delayed.empty() && room() > 0 && (!slow || d.delayed.front().due <= at)) {
            Delayed& front = d.delayed.front();
            const qsizetype n = std::min(front.bytes.size(), room());
            d.to->write(front.bytes.left(n));
            d.delayedBytes -= n;
            front.bytes.remove(0, n);
            if (front.bytes.isEmpty())
                d.delayed.pop_front();
        }
        if (!d.delayed.empty())
            return slow && d.delayed.front().due > at ? d.delayed.front().due : -1;

        if (slow && !d.up) {
            if (d.from->bytesAvailable() == 0)
                return -1;
            // The interval counts from the last chunk, so a new interval applies at once.
            const qint64 next = d.lastChunkAt < 0 ? at : d.lastChunkAt + m_proxy->intervalMs();
            if (at < next)
                return next;
            const qsizetype n = std::min({d.from->bytesAvailable(), room(), m_proxy->chunkBytes()});
            if (n == 0)
                return -1; // the client's backlog is full: its bytesWritten wakes us
            d.to->write(d.from->read(n));
            d.lastChunkAt = at;
            return d.from->bytesAvailable() > 0 ? at + m_proxy->intervalMs() : -1;
        }
        const qsizetype n = std::min(d.from->bytesAvailable(), room());
        if (n > 0)
            d.to->write(d.from->read(n));
        return -1;
    }

    // A side that closed is closed on the other side too once all it sent has gone on.
    void finishIfClosed()
    {
        for (Direction* d : {&m_up, &m_down}) {
            const bool fromEnded = d->from->state() == QAbstractSocket::UnconnectedState &&
                                   (d->from != &m_server || m_serverWasConnected);
            if (fromEnded && d->drained() && d->to->state() == QAbstractSocket::ConnectedState)
                d->to->disconnectFromHost();
        }
        if (m_up.from->state() == QAbstractSocket::UnconnectedState &&
            m_server.state() == QAbstractSocket::UnconnectedState && m_serverWasConnected) {
            m_done = true;
            end();
        }
    }

    void end()
    {
        m_wake.stop();
        if (m_ended)
            std::exchange(m_ended, nullptr)(this);
    }

    FaultProxy* m_proxy;
    Ended m_ended;
    QTcpSocket m_server;
    Direction m_up;
    Direction m_down;
    QTimer m_wake;
    quint16 m_target = 0;
    bool m_serverWasConnected = false;
    bool m_done = false;
};

FaultProxy::FaultProxy(quint16 targetPort, qsizetype maxBufferedBytes)
    : m_target(targetPort), m_maxBuffered(maxBufferedBytes)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &FaultProxy::onNewConnection);
}

FaultProxy::~FaultProxy()
{
    m_server.close();
    const QList<ProxyLink*> links = std::exchange(m_links, {});
    qDeleteAll(links);
}

void FaultProxy::onNewConnection()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        if (m_mode == Mode::Reset) {
            resetSocket(client);
            client->deleteLater();
            continue;
        }
        auto* link = new ProxyLink(client, m_target, this, [this](ProxyLink* ended) {
            m_links.removeOne(ended);
            ended->deleteLater();
        });
        m_links.append(link);
        link->start();
    }
}

void FaultProxy::setMode(Mode mode)
{
    m_mode = mode;
    // A reset ends every link now; other modes move what waited, from the event loop.
    const QList<ProxyLink*> links = m_links;
    for (ProxyLink* link : links) {
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

qsizetype FaultProxy::bufferedBytes() const
{
    qsizetype total = 0;
    for (const ProxyLink* link : m_links)
        total += link->buffered();
    return total;
}

void FaultProxy::notePeak()
{
    m_peak = std::max(m_peak, bufferedBytes());
}

} // namespace testsupport
