#include "server.h"

#include "answers.h"
#include "replies.h"
#include "serverlog.h"
#include "session/protocol.h"
#include "tlsidentity.h"

#include <algorithm>

Server::Server(Database& db, const ServerConfig& config, QObject* parent)
    : QObject(parent), m_db(db), m_config(config), m_contacts(db), m_calls(db),
      m_control([this](const QString& number) { return describe(announceCall(number)); }),
      m_guard(config.login), m_waiting(config.waiting, config.maxClients),
      m_sources(config.sources, [this](const IncomingCall& call) { announceCall(call); })
{
    m_contacts.setNumbering(&m_numbering);
    m_listener.setMaxPendingConnections(m_config.maxClients);
    // After a restart all clients come back within a second or so: the system holds as
    // many as may come (up to its own limit, net.core.somaxconn) until they are accepted,
    // rather than drop those beyond Qt's 50 and leave them waiting for a retransmission.
    m_listener.setListenBacklogSize(m_config.maxClients);
    connect(&m_listener, &QTcpServer::newConnection, this,
            [this] { onNewConnection(&m_listener); });
    if (m_config.tls()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setProtocol(QSsl::TlsV1_2OrLater);
        tls.setLocalCertificate(m_config.tlsCertificate);
        tls.setLocalCertificateChain(QList<QSslCertificate>{m_config.tlsCertificate} +
                                     m_config.tlsChain);
        tls.setPrivateKey(m_config.tlsKey);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_tlsListener = std::make_unique<TlsListener>(tls);
        m_tlsListener->setMaxPendingConnections(m_config.maxClients);
        m_tlsListener->setListenBacklogSize(m_config.maxClients);
        connect(m_tlsListener.get(), &QTcpServer::newConnection, this,
                [this] { onNewConnection(m_tlsListener.get()); });
    }
    m_keepAlive.setInterval(m_config.pingIntervalMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &Server::onKeepAlive);
    m_loginReport.setInterval(m_config.loginReportMs);
    connect(&m_loginReport, &QTimer::timeout, this, &Server::reportTurnedAway);
    m_build.setSingleShot(true);
    m_build.setInterval(0);
    connect(&m_build, &QTimer::timeout, this, &Server::buildStep);
    m_db.setCallListener([this](const QDateTime& at, const QString& number) {
        announceCallFromElsewhere(number, at);
    });
}

Server::~Server()
{
    m_db.setCallListener(nullptr);
    m_listener.close();
    if (m_tlsListener)
        m_tlsListener->close();
    m_building.clear();
    const QList<ClientSession*> sessions = m_sessions;
    m_sessions.clear();
    qDeleteAll(sessions);
}

namespace {

bool listen(QTcpServer& listener, const QHostAddress& address, quint16 port, QString* error)
{
    if (listener.listen(address, port))
        return true;
    *error = QStringLiteral("Cannot listen on %1:%2: %3")
                 .arg(address.toString(), QString::number(port), listener.errorString());
    return false;
}

// The plain port's address when only this machine may use it.
QHostAddress loopbackFor(const QHostAddress& address)
{
    if (address.isLoopback())
        return address;
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QHostAddress(QHostAddress::LocalHostIPv6)
               : QHostAddress(QHostAddress::LocalHost);
}

} // namespace

bool Server::start(QString* error)
{
    if (m_tlsListener && !listen(*m_tlsListener, m_config.address, m_config.tlsPort, error))
        return false;
    if (m_config.plain != ServerConfig::Plain::Off) {
        const QHostAddress plain = m_config.plain == ServerConfig::Plain::Loopback
                                       ? loopbackFor(m_config.address)
                                       : m_config.address;
        if (!listen(m_listener, plain, m_config.port, error)) {
            if (m_tlsListener)
                m_tlsListener->close();
            return false;
        }
    }
    // The control socket is named after the port clients know the server by.
    const quint16 known = m_listener.isListening() ? m_listener.serverPort() : tlsPort();
    const QString control =
        m_config.controlName.isEmpty() ? ControlChannel::nameForPort(known) : m_config.controlName;
    if (!m_control.listen(control, error)) {
        m_listener.close();
        if (m_tlsListener)
            m_tlsListener->close();
        return false;
    }
    // The TLS line first: whoever waits for the plain one has both then.
    if (m_tlsListener) {
        serverlog::write(QStringLiteral("Listening with TLS on %1:%2")
                             .arg(m_tlsListener->serverAddress().toString(),
                                  QString::number(m_tlsListener->serverPort())));
        serverlog::write(QStringLiteral("TLS key fingerprint: %1")
                             .arg(tlsidentity::fingerprint(m_config.tlsCertificate)));
    }
    if (m_listener.isListening())
        serverlog::write(QStringLiteral("Listening on %1:%2")
                             .arg(m_listener.serverAddress().toString(),
                                  QString::number(m_listener.serverPort())));
    serverlog::write(QStringLiteral("Control socket: %1").arg(m_control.fullName()));
    // Each source logs when it is up, or why not.
    m_sources.start();
    return true;
}

int Server::authenticatedCount() const
{
    int n = 0;
    for (const ClientSession* s : m_sessions) {
        if (s->isOpen() && s->isAuthenticated())
            ++n;
    }
    return n;
}

qsizetype Server::queuedBytes() const
{
    qsizetype bytes = 0;
    for (const ClientSession* s : m_sessions) {
        if (s->isOpen())
            bytes += s->pendingBytes();
    }
    return bytes;
}

void Server::onNewConnection(QTcpServer* listener)
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        const QHostAddress from = socket->peerAddress();
        const qint64 now = LoginGuard::clock();
        const int in = authenticatedCount();
        // Closed before the greeting; the first of its kind from an address is logged.
        const auto refuse = [&](LoginGuard::Outcome outcome, const QString& why) {
            if (m_guard.record(from, outcome, now))
                serverlog::write(
                    QStringLiteral("Refused %1:%2: %3.")
                        .arg(from.toString(), QString::number(socket->peerPort()), why));
            watchTurnedAway();
            socket->abort();
            socket->deleteLater();
        };
        if (in >= m_config.maxClients) {
            refuse(LoginGuard::Outcome::ServerFull,
                   QStringLiteral("already %1 clients").arg(m_config.maxClients));
            continue;
        }
        if (!m_waiting.mayConnect(from, now)) {
            refuse(LoginGuard::Outcome::TooFast,
                   QStringLiteral("its address opens more than %1 connections at once or %2 a "
                                  "second")
                       .arg(m_config.waiting.connectBurst)
                       .arg(m_config.waiting.connectsPerSecond));
            continue;
        }
        auto* session = new ClientSession(socket, m_config, m_guard, this);
        m_sessions.append(session);
        // Until it has sent the password it holds a place in the waiting room, where the
        // newcomer may push out another that waits (WaitingRoom).
        if (!session->isAuthenticated()) {
            if (QObject* out = m_waiting.enter(session, from, in))
                qobject_cast<ClientSession*>(out)->drop(
                    QStringLiteral("gave way to a newer connection"));
        }
        // The first line about a client tells that it got in: one per connection would let
        // anyone fill the log.
        connect(session, &ClientSession::authenticated, this, [this, session] {
            m_waiting.leave(session);
            if (authenticatedCount() > m_config.maxClients) {
                session->drop(QStringLiteral("already %1 clients").arg(m_config.maxClients));
                return;
            }
            if (m_config.password.isEmpty())
                serverlog::write(QStringLiteral("Client %1 connected.").arg(session->peer()));
            serverlog::write(QStringLiteral("Client %1 authenticated.").arg(session->peer()));
            updateKeepAlive();
            emit clientAuthenticated();
        });
        connect(session, &ClientSession::requestReceived, this,
                [this, session](const QString& message) { onRequest(session, message); });
        connect(session, &ClientSession::backlogShrunk, this, &Server::onBacklogShrunk);
        connect(session, &ClientSession::finished, this, [this, session] { onFinished(session); });
    }
}

void Server::onFinished(ClientSession* session)
{
    m_waiting.leave(session);
    m_building.erase(std::remove_if(m_building.begin(), m_building.end(),
                                    [session](const Building& b) { return b.session == session; }),
                     m_building.end());
    if (m_sessions.removeOne(session))
        session->deleteLater();
    updateKeepAlive();
    watchTurnedAway();
    onBacklogShrunk(); // what waited for it is gone
}

void Server::watchTurnedAway()
{
    if (!m_guard.isEmpty() && !m_loginReport.isActive())
        m_loginReport.start();
}

void Server::reportTurnedAway()
{
    const QString period = m_config.loginReportMs == 60000
                               ? QStringLiteral("minute")
                               : QStringLiteral("%1 s").arg(m_config.loginReportMs / 1000.0);
    for (const QString& line : m_guard.report(LoginGuard::clock(), period))
        serverlog::write(line);
    if (m_guard.isEmpty())
        m_loginReport.stop();
}

void Server::updateKeepAlive()
{
    // Probes run only while someone is there to probe.
    if (authenticatedCount() > 0) {
        if (!m_keepAlive.isActive())
            m_keepAlive.start();
    } else {
        m_keepAlive.stop();
    }
}

void Server::onKeepAlive()
{
    const QString probe = replies::ping(++m_pings);
    const QList<ClientSession*> sessions = m_sessions;
    for (ClientSession* session : sessions) {
        if (!session->isOpen() || !session->isAuthenticated())
            continue;
        if (session->silentForMs() >= m_config.silenceLimitMs) {
            session->drop(QStringLiteral("silent for %1 s").arg(session->silentForMs() / 1000));
            continue;
        }
        // One that answers the probes but takes nothing of what it is sent holds its
        // backlog, and its share of what all clients may have waiting, for no one.
        if (session->stalledForMs() >= m_config.silenceLimitMs) {
            session->drop(QStringLiteral("has taken nothing of what it is sent for %1 s")
                              .arg(session->stalledForMs() / 1000));
            continue;
        }
        session->send(probe);
    }
}

void Server::onRequest(ClientSession* session, const QString& message)
{
    std::unique_ptr<ReplyJob> job =
        answers::begin(message, m_contacts, m_calls, m_config.maxReplyBytes,
                       {m_config.maxContacts, &m_saves, session->peerAddress()});
    if (!job) {
        session->answer(std::nullopt);
        return;
    }
    // Most replies are complete after their first step and go at once, whatever others
    // are waiting for.
    if (job->step()) {
        session->answer(job->take());
        return;
    }
    m_building.push_back({session, std::move(job)});
    if (!m_waitingForRoom)
        m_build.start();
}

void Server::buildStep()
{
    if (m_building.empty())
        return;
    Building& next = m_building.front();
    // A reply that may not grow waits until some of what is queued has left.
    if (!mayBuildOn(queuedBytes(), next.job->size(), m_config.maxQueuedBytes)) {
        m_waitingForRoom = true;
        return;
    }
    if (next.job->step()) {
        ClientSession* session = next.session;
        const QByteArray reply = next.job->take();
        m_building.pop_front();
        session->answer(reply);
    }
    if (!m_building.empty())
        m_build.start();
}

void Server::onBacklogShrunk()
{
    if (!m_waitingForRoom)
        return;
    m_waitingForRoom = false;
    m_build.start();
}

Server::Announcement Server::announceCall(const QString& number, const QDateTime& at)
{
    IncomingCall call;
    call.number = number;
    call.at = at;
    return announceCall(call);
}

Server::Announcement Server::announceCall(const IncomingCall& call)
{
    const QDateTime& at = call.at;
    Announcement result;
    result.number = call.number.trimmed();
    result.caller = m_contacts.lookup(result.number);
    result.lineName = call.name;
    // Logged and told to the other servers together: they hear of it only once it is stored.
    result.logged = m_db.transaction([&] {
        return m_calls.add(at, result.number,
                           result.caller ? std::optional(result.caller->id) : std::nullopt,
                           call.called) &&
               m_db.tellCallRung(at, result.number);
    });
    // While the database is away, once for the whole outage rather than for every call.
    if (!result.logged && (!m_db.isAway() || m_unloggedOutage != m_db.outages())) {
        serverlog::write(QStringLiteral("Could not log the call: %1").arg(m_db.errorText()));
        if (m_db.isAway())
            m_unloggedOutage = m_db.outages();
    }
    sendCall(at, result);
    return result;
}

Server::Announcement Server::announceCallFromElsewhere(const QString& number, const QDateTime& at)
{
    Announcement result;
    result.number = number;
    result.caller = m_contacts.lookup(result.number);
    result.logged = true; // by the server it rang on
    result.elsewhere = true;
    sendCall(at, result);
    return result;
}

void Server::sendCall(const QDateTime& at, Announcement& result)
{
    // Encoded once and shared by every client's queue; each client's writer paces its own
    // copy, so a slow one holds up no other.
    // A caller no contact matched shows with the name the line gave, if any.
    std::optional<Contact> shown = result.caller;
    if (!shown && !result.lineName.isEmpty()) {
        shown.emplace();
        shown->name = result.lineName;
    }
    const QByteArray message = protocol::encode(replies::call(at, result.number, shown));
    for (ClientSession* session : std::as_const(m_sessions)) {
        if (session->isOpen() && session->isAuthenticated()) {
            session->sendEncoded(message);
            ++result.clients;
        }
    }
    serverlog::write(describe(result));
}

QString describe(const Server::Announcement& a)
{
    // Printed by the ring command too: the name and number come escaped.
    const QString caller =
        a.caller ? QStringLiteral("%1 (contact %2)")
                       .arg(a.caller->name.isEmpty() ? QStringLiteral("no name")
                                                     : printable::escaped(a.caller->name),
                            QString::number(a.caller->id))
        : a.lineName.isEmpty() ? QStringLiteral("an unknown caller")
                               : QStringLiteral("an unknown caller the line calls %1")
                                     .arg(printable::escaped(a.lineName));
    return QStringLiteral("Call from %1, %2, announced to %3 client%4%5%6.")
        .arg(printable::escaped(a.number), caller, QString::number(a.clients),
             a.clients == 1 ? QString() : QStringLiteral("s"),
             a.logged ? QString() : QStringLiteral(" (not logged: database error)"),
             a.elsewhere ? QStringLiteral(" (rung on another server)") : QString());
}
