#include "clientsession.h"

#include "serverlog.h"
#include "session/protocol.h"

#include <QCryptographicHash>

namespace {

const QString ServerName = QStringLiteral("Quillora Server");
const QString ServerVersion = QStringLiteral("0.92");

} // namespace

ClientSession::ClientSession(QTcpSocket* socket, const ServerConfig& config, QObject* parent)
    : QObject(parent), m_socket(socket), m_config(config),
      m_peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString(),
                                         QString::number(socket->peerPort()))),
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
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSession::onDisconnected);

    send(protocol::greeting(ServerName, ServerVersion));
    if (m_config.password.isEmpty()) {
        m_authenticated = true;
        QTimer::singleShot(0, this, &ClientSession::authenticated);
    } else {
        m_authTimer.setSingleShot(true);
        connect(&m_authTimer, &QTimer::timeout, this, [this] {
            drop(QStringLiteral("sent no password within %1 s")
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
    if (m_closed)
        return;
    if (!m_writer.enqueue(protocol::encode(message)))
        drop(QStringLiteral("does not read what it is sent (%1 bytes waiting)")
                 .arg(m_writer.pendingBytes()));
}

void ClientSession::drop(const QString& reason)
{
    if (m_closed)
        return;
    serverlog::write(QStringLiteral("Client %1 dropped: %2.").arg(m_peer, reason));
    m_closed = true;
    m_authTimer.stop();
    m_quiet.stop();
    m_socket->abort();
    QTimer::singleShot(0, this, &ClientSession::finished);
}

void ClientSession::onReadyRead()
{
    while (m_socket->bytesAvailable() > 0 && !m_closed) {
        const QByteArray chunk = m_socket->readAll();
        m_lastHeard.start();
        const InboundAssembler::Result result = m_assembler.feed(chunk);
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
    if (!m_authenticated) {
        if (!passwordMatches(message, protocol::encode(m_config.password))) {
            drop(QStringLiteral("wrong password"));
            return;
        }
        m_authenticated = true;
        m_authTimer.stop();
        emit authenticated();
        return;
    }
    emit messageReceived(protocol::decode(message));
}

void ClientSession::onDisconnected()
{
    if (m_closed)
        return;
    m_closed = true;
    m_authTimer.stop();
    m_quiet.stop();
    serverlog::write(QStringLiteral("Client %1 disconnected.").arg(m_peer));
    QTimer::singleShot(0, this, &ClientSession::finished);
}
