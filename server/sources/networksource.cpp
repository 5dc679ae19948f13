#include "networksource.h"

#include "printable.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <algorithm>

namespace {

// Qt reads no more than this into the socket ahead of us; with one line held besides, a peer
// sending without end makes it hold a few KiB at most.
constexpr qint64 SocketBufferBytes = 4096;

QString endpoint(const QString& host, quint16 port)
{
    const QString shown = host.contains(':') ? '[' + host + ']' : host;
    return shown + ':' + QString::number(port);
}

} // namespace

NetworkSource::NetworkSource(const QString& kind, const QString& host, quint16 port, bool tls,
                             SourceTiming timing, QObject* parent)
    : CallSource(parent), m_host(host), m_port(port), m_tls(tls), m_timing(timing),
      m_name(kind + ' ' + endpoint(host, port)), m_pauseMs(timing.firstRetryMs)
{
    m_connectTimer.setSingleShot(true);
    m_retryTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &NetworkSource::timedOut);
    connect(&m_retryTimer, &QTimer::timeout, this, &NetworkSource::connectNow);
    // Up means set up: the try is over, and the next loss is met with the shortest pause.
    connect(this, &CallSource::up, this, [this] {
        m_connectTimer.stop();
        m_pauseMs = m_timing.firstRetryMs;
    });
}

NetworkSource::~NetworkSource()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void NetworkSource::start()
{
    if (!m_socket && !m_retryTimer.isActive())
        connectNow();
}

void NetworkSource::connectNow()
{
    m_partial.clear();
    m_connectTimer.start(m_timing.connectTimeoutMs);
    if (m_tls && !QSslSocket::supportsSsl()) {
        fail(QStringLiteral("TLS is not available"));
        return;
    }
    QAbstractSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    m_socket = socket;
    socket->setReadBufferSize(SocketBufferBytes);
    connect(socket, &QAbstractSocket::readyRead, this, &NetworkSource::readLines);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this] { fail(reason()); });
    connect(socket, &QAbstractSocket::disconnected, this,
            [this] { fail(QStringLiteral("the connection was closed")); });
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        // The certificate and the host name are checked as Qt does by default; nothing is
        // sent before the handshake is done.
        connect(ssl, &QSslSocket::encrypted, this, &NetworkSource::connected);
        ssl->connectToHostEncrypted(m_host, m_port);
    } else {
        connect(socket, &QAbstractSocket::connected, this, &NetworkSource::connected);
        socket->connectToHost(m_host, m_port);
    }
}

void NetworkSource::send(const QByteArray& bytes)
{
    if (m_socket)
        m_socket->write(bytes);
}

void NetworkSource::fail(const QString& why)
{
    m_connectTimer.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_partial.clear();
    setDown(why);
    m_retryTimer.start(m_pauseMs);
    m_pauseMs = std::min(m_pauseMs * 2, std::max(m_timing.longestRetryMs, m_timing.firstRetryMs));
}

void NetworkSource::timedOut()
{
    const bool connecting = m_socket && m_socket->state() != QAbstractSocket::ConnectedState;
    fail(connecting ? QStringLiteral("the connection timed out")
                    : QStringLiteral("no answer in time"));
}

QString NetworkSource::reason() const
{
    switch (m_socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the connection was closed");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("the connection timed out");
    case QAbstractSocket::SslHandshakeFailedError:
        return "TLS handshake failed: " + printable::escaped(m_socket->errorString());
    default:
        return printable::escaped(m_socket->errorString());
    }
}

void NetworkSource::readLines()
{
    QAbstractSocket* const socket = m_socket;
    char chunk[SocketBufferBytes];
    while (m_socket == socket && socket->bytesAvailable() > 0) {
        m_mostHeld = std::max(m_mostHeld, m_partial.size() + socket->bytesAvailable());
        const qint64 read = socket->read(chunk, sizeof chunk);
        if (read <= 0)
            return;
        m_partial.append(chunk, read);
        qsizetype from = 0;
        for (qsizetype end; (end = m_partial.indexOf('\n', from)) >= 0; from = end + 1) {
            QByteArray line = m_partial.mid(from, end - from);
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.size() > MaxLineBytes)
                return fail(QStringLiteral("a line longer than %1 bytes").arg(MaxLineBytes));
            lineReceived(line);
            if (m_socket != socket)
                return; // the subclass cut the connection
        }
        m_partial.remove(0, from);
        // One byte more than a line may be its CR, waiting for the LF.
        if (m_partial.size() > MaxLineBytes + 1)
            return fail(QStringLiteral("a line longer than %1 bytes").arg(MaxLineBytes));
    }
}
