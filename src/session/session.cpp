#include "session/session.h"

#include "session/keepalive.h"
#include "session/keyfingerprint.h"
#include "session/linkrtt.h"
#include "session/protocol.h"
#include "settings/settingsstore.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslKey>
#include <algorithm>
#include <utility>

namespace {

bool parsePort(const QString& text, quint16* port)
{
    if (text.size() > 5 || !protocol::isAllDigits(text))
        return false;
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

} // namespace

Session::Session(QObject* parent) : QObject(parent)
{
    m_socket.setObjectName(QStringLiteral("sckConnect"));
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(DefaultQuietMilliseconds);
    m_clock.start();

    connect(&m_socket, &QTcpSocket::stateChanged, this, &Session::onStateChanged);
    connect(&m_connecting, &ConnectingWatch::reset, this, &Session::onResetWhileConnecting);
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_resetWatch.attach(m_socket.socketDescriptor());
        keepalive::apply(m_socket.socketDescriptor(), keepalive::times());
        m_handshaking = m_socket.mode() == QSslSocket::SslClientMode;
        if (!m_handshaking)
            post([this] {
                if (isConnected())
                    emit connected();
            });
    });
    connect(&m_socket, &QSslSocket::sslErrors, this, &Session::onSslErrors);
    connect(&m_socket, &QSslSocket::encrypted, this, &Session::onEncrypted);
    connect(&m_socket, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &Session::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &Session::onDisconnected);
    connect(&m_quiet, &QTimer::timeout, this, [this] { handOn(m_assembler.takeHeld()); });
}

Session::~Session()
{
    m_closing = true;
    m_connecting.stop();
    m_socket.abort();
    m_resetWatch.release();
}

int Session::state() const
{
    switch (m_socket.state()) {
    case QAbstractSocket::UnconnectedState:
        return Closed;
    case QAbstractSocket::HostLookupState:
        return Resolving;
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        return ConnectedState;
    case QAbstractSocket::BoundState:
        return Open;
    case QAbstractSocket::ListeningState:
        return Listening;
    case QAbstractSocket::ClosingState:
        return Closing;
    }
    return Closed;
}

void Session::connectTo(const QString& host, const QString& port)
{
    close();
    ++m_attempt;
    m_failed = false;
    m_greeted = false;
    m_greetingHandled = false;
    m_refused = false;
    m_handshaking = false;
    m_target = host + QLatin1Char(':') + port;
    quint16 portNumber = 0;
    if (!parsePort(port, &portNumber)) {
        m_failed = true;
        const QString description =
            QStringLiteral("Invalid port number: %1 (a number from 1 to 65535 is needed)")
                .arg(port);
        post(
            [this, description] { emit failed(QAbstractSocket::UnknownSocketError, description); });
        return;
    }
    if (!SettingsStore::isOn(GetSetting(SettingsStore::ClientTls))) {
        m_socket.connectToHost(host, portNumber);
        return;
    }
    // A key is trusted for the server it was trusted for, not for another one.
    m_pin = GetSetting(SettingsStore::ClientTlsPinServer) == m_target
                ? GetSetting(SettingsStore::ClientTlsPin)
                : QString();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket.setSslConfiguration(tls);
    m_socket.connectToHostEncrypted(host, portNumber);
}

void Session::onSslErrors(const QList<QSslError>& errors)
{
    // A certificate that does not verify is the key trusted for the server, or the
    // connection ends (by the toolkit, as the errors are not ignored).
    const QString offered = keyfingerprint::pin(m_socket.peerCertificate().publicKey().toDer());
    if (!m_pin.isEmpty() && offered == m_pin) {
        m_socket.ignoreSslErrors(errors);
        return;
    }
    if (!m_pin.isEmpty()) {
        const QString trusted = m_pin;
        rejectKey([this, trusted, offered] { emit keyChanged(trusted, offered); });
        return;
    }
    QStringList why;
    for (const QSslError& error : errors)
        why << error.errorString();
    why.removeDuplicates();
    rejectKey([this, offered, why] { emit keyUntrusted(offered, why.join(QStringLiteral(" "))); });
}

void Session::onEncrypted()
{
    m_handshaking = false;
    // A certificate the system trusts is welcome too, unless another key is trusted for
    // this server: then only that one is.
    const QString offered = keyfingerprint::pin(m_socket.peerCertificate().publicKey().toDer());
    if (!m_pin.isEmpty() && offered != m_pin) {
        const QString trusted = m_pin;
        rejectKey([this, trusted, offered] { emit keyChanged(trusted, offered); });
        return;
    }
    post([this] {
        if (isConnected())
            emit connected();
    });
}

void Session::rejectKey(std::function<void()> report)
{
    // Nothing the server says is handed on, so nothing is answered; the handler of the
    // report closes the connection.
    m_refused = true;
    m_failed = true;
    post(std::move(report));
}

void Session::close()
{
    ++m_attempt; // what was read but not yet handled belongs to the closed connection
    m_quiet.stop();
    m_assembler.clear();
    m_statsOrder.clear();
    m_pace.forget();
    m_closing = true;
    m_socket.abort();
    m_resetWatch.release();
    m_closing = false;
}

bool Session::send(const QString& text, StatsOrder::Asker asker)
{
    const QByteArray bytes = protocol::encode(text);
    if (!sendBytes(bytes))
        return false;
    if (MessageAssembler::isStatsOrContacts(bytes))
        m_pace.requestSent(m_clock.elapsed());
    if (protocol::classify(bytes) == protocol::Kind::Stats)
        m_statsOrder.asked(asker, protocol::statsKind(text));
    return true;
}

StatsOrder::Goes Session::statsReplyArrived(const QString& reply)
{
    const StatsOrder::Goes goes = m_statsOrder.answered(protocol::statsKind(reply));
    if (m_statsOrder.takeKeeperLost())
        emit keeperReplyLost();
    return goes;
}

bool Session::answerPing(const QString& ping)
{
    const QByteArray payload = m_pingInHand.isNull()
                                   ? protocol::encode(ping).mid(protocol::PrefixLength)
                                   : m_pingInHand.mid(protocol::PrefixLength);
    return sendBytes(protocol::PongPrefix.toLatin1() + payload);
}

bool Session::sendBytes(const QByteArray& bytes)
{
    // Nothing goes to a server before it is known (the TLS handshake), nor to one refused.
    if (!isConnected() || m_handshaking || m_refused)
        return false;
    if (m_socket.write(bytes) != bytes.size())
        return false;
    m_socket.flush();
    if (m_socket.bytesToWrite() > MaxUnsentBytes) {
        fail(QAbstractSocket::SocketResourceError,
             QStringLiteral("More than %1 MiB wait to be sent: the server does not read.")
                 .arg(MaxUnsentBytes / (1024 * 1024)));
        return false;
    }
    return true;
}

QString Session::peerAddress() const
{
    QHostAddress address = m_socket.peerAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    return address.toString();
}

quint16 Session::peerPort() const
{
    return m_socket.peerPort();
}

void Session::post(std::function<void()> event)
{
    const quint64 attempt = m_attempt;
    QMetaObject::invokeMethod(
        this,
        [this, attempt, event = std::move(event)] {
            if (attempt == m_attempt)
                event();
        },
        Qt::QueuedConnection);
}

void Session::onStateChanged(QAbstractSocket::SocketState state)
{
    if (state == QAbstractSocket::ConnectingState) {
        // The socket is made only after the state has changed: watch it from the loop.
        post([this] { m_connecting.watch(); });
    } else {
        m_connecting.stop();
    }
    emit stateChanged();
}

void Session::onResetWhileConnecting()
{
    fail(QAbstractSocket::RemoteHostClosedError,
         QStringLiteral("The connection was reset by the server."));
}

void Session::fail(int number, const QString& description)
{
    if (m_closing || m_failed)
        return;
    m_failed = true;
    m_quiet.stop();
    m_assembler.clear();
    m_closing = true;
    m_connecting.stop();
    m_socket.abort();
    m_resetWatch.release();
    m_closing = false;
    post([this, number, description] { emit failed(number, description); });
}

void Session::onReadyRead()
{
    const QByteArray chunk = m_socket.readAll();
    if (chunk.isEmpty())
        return;
    emit dataArrived();
    if (MessageAssembler::isStatsOrContacts(chunk))
        m_pace.replyBegan(m_clock.elapsed());
    MessageAssembler::Result result = m_assembler.feed(chunk);
    for (const QByteArray& message : result.messages)
        handOn(message);
    if (result.droppedBytes > 0) {
        const qsizetype bytes = result.droppedBytes;
        const bool stats = result.droppedStats;
        post([this, bytes, stats] {
            // The reply is lost, not the order of the next.
            if (stats &&
                (m_statsOrder.answered(protocol::StatsKind::Other) == StatsOrder::Goes::ToKeeper ||
                 m_statsOrder.takeKeeperLost()))
                emit keeperReplyLost();
            emit messageDropped(bytes);
        });
    }
    if (!m_assembler.holding()) {
        m_quiet.stop();
        return;
    }
    m_pace.replyRead(m_clock.elapsed(), MessageAssembler::isStatsOrContacts(chunk));
    if (m_assembler.heldComplete())
        m_quiet.start(m_pace.completeQuietMs(linkRttMs(m_socket.socketDescriptor())));
    else if (m_assembler.heldShort())
        m_quiet.start(ShortReplyQuietFactor * m_pace.quietMs());
    else
        m_quiet.start(m_pace.quietMs());
}

void Session::handOn(const QByteArray& message)
{
    if (message.isEmpty())
        return;
    // Decoded now, queued for the dispatcher: handlers may open modal boxes, and the
    // next message must not wait for them.
    if (m_refused)
        return;
    const QString text = protocol::decode(message);
    if (protocol::classify(message) == protocol::Kind::Ping) {
        post([this, text, message] {
            if (m_refused)
                return;
            // Handlers may run the event loop and hand on the next probe meanwhile.
            const QByteArray outer = std::exchange(m_pingInHand, message);
            emit messageReceived(text);
            m_pingInHand = outer;
        });
        return;
    }
    post([this, text] {
        if (!m_refused)
            emit messageReceived(text);
    });
}

void Session::onError(QAbstractSocket::SocketError error)
{
    if (m_closing || m_failed)
        return;
    // The toolkit reports the peer's orderly close and its reset alike; before the TLS
    // handshake is over, either is a failed handshake.
    const bool handshaking = std::exchange(m_handshaking, false);
    if (error == QAbstractSocket::RemoteHostClosedError && !handshaking) {
        onPeerGone();
        return;
    }
    // What is held was cut by the failure: it is not handed on, not even later, under
    // the box that reports the failure.
    m_quiet.stop();
    m_assembler.clear();
    m_failed = true;
    m_resetWatch.release();
    QString description = m_socket.errorString();
    if (handshaking)
        description =
            QStringLiteral("No TLS with the server (%1). Is this its TLS port?").arg(description);
    post([this, error, description] { emit failed(static_cast<int>(error), description); });
}

void Session::onDisconnected()
{
    if (m_closing || m_failed)
        return;
    onPeerGone();
}

void Session::onPeerGone()
{
    // After an orderly close, whatever was still held is complete: it arrived before
    // the end. Not a reply short of the fields it states, though: the end cut it, and a
    // part is no reply; nor anything held when the server reset the connection, which
    // may have cut it anywhere.
    m_quiet.stop();
    const bool reset = m_resetWatch.wasReset();
    if (reset || m_assembler.heldShort())
        m_assembler.clear();
    else
        handOn(m_assembler.takeHeld());
    m_resetWatch.release();
    m_failed = true; // one event per end
    if (reset) {
        post([this] {
            emit failed(QAbstractSocket::RemoteHostClosedError,
                        QStringLiteral("The connection was reset by the server."));
        });
    } else {
        post([this] { emit peerClosed(); });
    }
}
