#include "clientsession.h"

#include "serverlog.h"
#include "session/protocol.h"

#include <QCryptographicHash>
#include <QSslSocket>
#include <utility>

namespace {

const QString ServerName = QStringLiteral("Quillora Server");
const QString ServerVersion = QStringLiteral("0.92");
// Without a password, how long a connection that says nothing waits to be told as a
// client: what a browser sends comes at once.
constexpr int FirstWordMs = 1000;

} // namespace

ClientSession::ClientSession(QTcpSocket* socket, const ServerConfig& config, LoginGuard& guard,
                             QObject* parent)
    : QObject(parent), m_socket(socket), m_config(config), m_guard(guard),
      m_address(socket->peerAddress()),
      m_peer(
          QStringLiteral("%1:%2").arg(m_address.toString(), QString::number(socket->peerPort()))),
      m_assembler(config.maxMessageBytes),
      m_writer(socket, config.messageGapMs, config.maxPendingBytes)
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Bounds what is read from the network at once; the rest waits in the system.
    m_socket->setReadBufferSize(config.maxMessageBytes + 1);
    m_lastHeard.start();

    m_quiet.setSingleShot(true);
    m_quiet.setInterval(config.quietMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        const QByteArray held = m_assembler.takeHeld();
        if (!held.isEmpty())
            handle(held);
    });
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &ClientSession::checkPassword);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSession::onDisconnected);
    if (auto* tls = qobject_cast<QSslSocket*>(m_socket)) {
        connect(tls, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            // Logged once per address, as any connection that is no client.
            if (error == QAbstractSocket::SslHandshakeFailedError && !m_closed)
                turnAway(LoginGuard::Outcome::NotAClient, QStringLiteral("no TLS handshake"));
        });
    }
    connect(&m_writer, &PacedWriter::progressed, this, &ClientSession::backlogShrunk);
    connect(&m_writer, &PacedWriter::idle, this, &ClientSession::handOnNext);

    send(protocol::greeting(ServerName, ServerVersion));
    m_authTimer.setSingleShot(true);
    if (m_config.password.isEmpty()) {
        // Calls reach it at once; it is told as a client (and counted, and logged) once
        // its first word shows it is one, or once it has been quiet for a while.
        m_authenticated = true;
        connect(&m_authTimer, &QTimer::timeout, this, &ClientSession::confirm);
        m_authTimer.start(FirstWordMs);
    } else {
        connect(&m_authTimer, &QTimer::timeout, this, [this] {
            drop(QStringLiteral("%1 within %2 s")
                     .arg(m_offered ? QStringLiteral("its password could not be checked")
                                    : QStringLiteral("sent no password"))
                     .arg(m_config.authTimeoutMs / 1000.0));
        });
        m_authTimer.start(m_config.authTimeoutMs);
    }
}

ClientSession::~ClientSession()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

bool ClientSession::passwordMatches(const QByteArray& offered, const QByteArray& expected)
{
    // Fixed-length digests, compared without an early exit.
    const QByteArray a = QCryptographicHash::hash(offered, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

void ClientSession::send(const QString& message)
{
    sendEncoded(protocol::encode(message));
}

void ClientSession::sendEncoded(const QByteArray& message)
{
    if (m_closed)
        return;
    if (!m_writer.enqueue(message))
        drop(QStringLiteral("does not read what it is sent (%1 bytes waiting)")
                 .arg(m_writer.pendingBytes()));
}

void ClientSession::answer(const std::optional<QByteArray>& reply)
{
    m_answering = false;
    if (m_closed)
        return;
    if (reply && !m_writer.enqueue(*reply)) {
        drop(QStringLiteral("does not read what it is sent (%1 bytes waiting)")
                 .arg(m_writer.pendingBytes()));
        return;
    }
    // With nothing to wait for, the next request goes on at the next turn of the loop.
    if (m_writer.isIdle())
        QTimer::singleShot(0, this, &ClientSession::handOnNext);
}

void ClientSession::handOnNext()
{
    if (m_closed || !m_authenticated || m_answering || m_requests.isEmpty() || !m_writer.isIdle())
        return;
    m_answering = true;
    emit requestReceived(protocol::decode(m_requests.dequeue()));
}

void ClientSession::drop(const QString& reason)
{
    if (m_closed)
        return;
    if (!m_authenticated) {
        turnAway(LoginGuard::Outcome::NoPassword, reason);
        return;
    }
    serverlog::write(QStringLiteral("Client %1 dropped: %2.").arg(m_peer, reason));
    close();
}

void ClientSession::turnAway(LoginGuard::Outcome outcome, const QString& reason)
{
    // Only the first of its kind from an address has a line of its own; the server sums
    // up the others.
    if (m_guard.record(m_address, outcome, LoginGuard::clock()))
        serverlog::write(QStringLiteral("Client %1 dropped: %2.").arg(m_peer, reason));
    close();
}

void ClientSession::close()
{
    m_closed = true;
    m_authTimer.stop();
    m_pause.stop();
    m_quiet.stop();
    m_socket->abort();
    QTimer::singleShot(0, this, &ClientSession::finished);
}

void ClientSession::onReadyRead()
{
    // What follows a password stays unread until the password has been checked.
    while (m_socket->bytesAvailable() > 0 && !m_closed && !m_offered) {
        const QByteArray chunk = m_socket->readAll();
        m_lastHeard.start();
        // A browser's request, or a TLS client on the plain port, shows in its first bytes:
        // nothing of it is handled, not even a request after a first message too long to
        // be looked at.
        const char* other =
            !std::exchange(m_read, true) ? InboundAssembler::otherProtocol(chunk) : nullptr;
        if (other) {
            turnAway(LoginGuard::Outcome::NotAClient,
                     QStringLiteral("sent %1, not a Quillora message").arg(QLatin1String(other)));
            return;
        }
        const InboundAssembler::Result result = m_assembler.feed(chunk);
        if (result.dropped && !m_spoke && m_config.password.isEmpty()) {
            turnAway(
                LoginGuard::Outcome::NotAClient,
                QStringLiteral("sent a first message over %1 bytes").arg(m_config.maxMessageBytes));
            return;
        }
        if (result.dropped) {
            serverlog::write(QStringLiteral("Client %1 sent a message over %2 bytes; dropped.")
                                 .arg(m_peer, QString::number(m_config.maxMessageBytes)));
        }
        for (const QByteArray& message : result.messages) {
            if (m_closed)
                break;
            handle(message);
        }
    }
    if (m_assembler.holding() && !m_closed)
        m_quiet.start();
}

void ClientSession::handle(const QByteArray& message)
{
    if (m_config.password.isEmpty() && !std::exchange(m_spoke, true)) {
        // Without a password, what a web page has the browser send must not count as
        // requests: the first message decides, however late it comes.
        if (const char* other = InboundAssembler::otherProtocol(message)) {
            turnAway(LoginGuard::Outcome::NotAClient,
                     QStringLiteral("sent %1, not a Quillora message").arg(QLatin1String(other)));
            return;
        }
        confirm();
        // A client with a password in its settings sends it all the same.
        if (m_closed || !InboundAssembler::beginsRequest(message))
            return;
    }
    if (!m_authenticated && !m_offered) {
        m_offered = message;
        checkPassword();
        return;
    }
    // Keep-alive answers only show that the client is there.
    if (message.startsWith("PONG_:"))
        return;
    if (m_requests.size() >= m_config.maxWaitingRequests) {
        drop(QStringLiteral("sent more than %1 requests without reading the answers")
                 .arg(m_config.maxWaitingRequests));
        return;
    }
    m_requests.enqueue(message);
    handOnNext();
}

void ClientSession::confirm()
{
    if (m_confirmed || m_closed)
        return;
    m_confirmed = true;
    m_authTimer.stop();
    emit authenticated();
}

void ClientSession::checkPassword()
{
    const qint64 pause = m_guard.pauseMs(m_address, LoginGuard::clock());
    if (pause > 0) {
        m_pause.start(int(pause));
        return;
    }
    if (!passwordMatches(*m_offered, protocol::encode(m_config.password))) {
        turnAway(LoginGuard::Outcome::WrongPassword, QStringLiteral("wrong password"));
        return;
    }
    m_guard.succeeded(m_address);
    m_offered.reset();
    m_authenticated = true;
    confirm();
    // What came with or after the password has waited for it.
    if (!m_closed) {
        handOnNext();
        QTimer::singleShot(0, this, &ClientSession::onReadyRead);
    }
}

void ClientSession::onDisconnected()
{
    if (m_closed)
        return;
    if (!m_authenticated) {
        turnAway(LoginGuard::Outcome::NoPassword, QStringLiteral("closed the connection"));
        return;
    }
    m_closed = true;
    m_authTimer.stop();
    m_quiet.stop();
    if (m_confirmed) // else the log never told of it
        serverlog::write(QStringLiteral("Client %1 disconnected.").arg(m_peer));
    QTimer::singleShot(0, this, &ClientSession::finished);
}
