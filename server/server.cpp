#include "server.h"

#include "answers.h"
#include "replies.h"
#include "serverlog.h"
#include "session/protocol.h"

Server::Server(Database& db, const ServerConfig& config, QObject* parent)
    : QObject(parent), m_db(db), m_config(config), m_contacts(db), m_calls(db),
      m_control([this](const QString& number) { return describe(announceCall(number)); })
{
    m_listener.setMaxPendingConnections(m_config.maxClients);
    connect(&m_listener, &QTcpServer::newConnection, this, &Server::onNewConnection);
    m_keepAlive.setInterval(m_config.pingIntervalMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &Server::onKeepAlive);
}

Server::~Server()
{
    m_listener.close();
    const QList<ClientSession*> sessions = m_sessions;
    m_sessions.clear();
    qDeleteAll(sessions);
}

bool Server::start(QString* error)
{
    if (!m_listener.listen(m_config.address, m_config.port)) {
        *error = QStringLiteral("Cannot listen on %1:%2: %3")
                     .arg(m_config.address.toString(), QString::number(m_config.port),
                          m_listener.errorString());
        return false;
    }
    const QString control = m_config.controlName.isEmpty()
                                ? ControlChannel::nameForPort(m_listener.serverPort())
                                : m_config.controlName;
    if (!m_control.listen(control, error)) {
        m_listener.close();
        return false;
    }
    serverlog::write(
        QStringLiteral("Listening on %1:%2")
            .arg(m_listener.serverAddress().toString(), QString::number(m_listener.serverPort())));
    serverlog::write(QStringLiteral("Control socket: %1").arg(m_control.fullName()));
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

void Server::onNewConnection()
{
    while (QTcpSocket* socket = m_listener.nextPendingConnection()) {
        if (authenticatedCount() >= m_config.maxClients) {
            serverlog::write(QStringLiteral("Refused %1:%2: already %3 clients.")
                                 .arg(socket->peerAddress().toString(),
                                      QString::number(socket->peerPort()),
                                      QString::number(m_config.maxClients)));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Connections still owing the password have a few places of their own. The one
        // that has waited longest gives way to a newcomer (real clients send the password
        // at once), so silent connections can keep neither clients out nor their places.
        QList<ClientSession*> waiting;
        for (ClientSession* s : std::as_const(m_sessions)) {
            if (s->isOpen() && !s->isAuthenticated())
                waiting.append(s);
        }
        if (!waiting.isEmpty() && waiting.size() >= m_config.maxUnauthenticated)
            waiting.first()->drop(QStringLiteral("gave way to a newer connection"));
        auto* session = new ClientSession(socket, m_config, this);
        m_sessions.append(session);
        serverlog::write(QStringLiteral("Client %1 connected.").arg(session->peer()));
        connect(session, &ClientSession::authenticated, this, [this, session] {
            if (authenticatedCount() > m_config.maxClients) {
                session->drop(QStringLiteral("already %1 clients").arg(m_config.maxClients));
                return;
            }
            serverlog::write(QStringLiteral("Client %1 authenticated.").arg(session->peer()));
            updateKeepAlive();
            emit clientAuthenticated();
        });
        connect(session, &ClientSession::messageReceived, this,
                [this, session](const QString& message) { onMessage(session, message); });
        connect(session, &ClientSession::finished, this, [this, session] { onFinished(session); });
    }
}

void Server::onFinished(ClientSession* session)
{
    if (m_sessions.removeOne(session))
        session->deleteLater();
    updateKeepAlive();
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
        session->send(probe);
    }
}

void Server::onMessage(ClientSession* session, const QString& message)
{
    const std::optional<QString> reply = answers::answer(message, m_contacts, m_calls);
    if (reply && session->isOpen())
        session->send(*reply);
}

Server::Announcement Server::announceCall(const QString& number, const QDateTime& at)
{
    Announcement result;
    result.number = number.trimmed();
    result.caller = m_contacts.lookup(result.number);
    result.logged = m_calls.add(at, result.number,
                                result.caller ? std::optional(result.caller->id) : std::nullopt);
    if (!result.logged)
        serverlog::write(QStringLiteral("Could not log the call: %1").arg(m_db.errorText()));
    const QString message = replies::call(at, result.number, result.caller);
    for (ClientSession* session : std::as_const(m_sessions)) {
        if (session->isOpen() && session->isAuthenticated()) {
            session->send(message);
            ++result.clients;
        }
    }
    serverlog::write(describe(result));
    return result;
}

QString describe(const Server::Announcement& a)
{
    const QString caller =
        a.caller ? QStringLiteral("%1 (contact %2)")
                       .arg(a.caller->name.isEmpty() ? QStringLiteral("no name") : a.caller->name,
                            QString::number(a.caller->id))
                 : QStringLiteral("an unknown caller");
    return QStringLiteral("Call from %1, %2, announced to %3 client%4%5.")
        .arg(a.number, caller, QString::number(a.clients),
             a.clients == 1 ? QString() : QStringLiteral("s"),
             a.logged ? QString() : QStringLiteral(" (not logged: database error)"));
}
