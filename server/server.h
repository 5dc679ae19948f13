#pragma once

#include "calllog.h"
#include "callsources.h"
#include "clientsession.h"
#include "contactstore.h"
#include "controlchannel.h"
#include "database.h"
#include "numbering.h"
#include "replyjob.h"
#include "saverate.h"
#include "serverconfig.h"
#include "tlslistener.h"
#include "waitingroom.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>

// The caller-ID server: accepts clients, keeps them alive, announces calls to every
// authenticated client and answers their statistics and contacts requests.
class Server final : public QObject {
    Q_OBJECT
public:
    Server(Database& db, const ServerConfig& config, QObject* parent = nullptr);
    ~Server() override;

    // Listens for clients and opens the control socket; false with the reason.
    bool start(QString* error);

    // The plain port (none with plain = off) and the TLS port (none without TLS).
    QHostAddress address() const { return m_listener.serverAddress(); }
    quint16 port() const { return m_listener.serverPort(); }
    quint16 tlsPort() const { return m_tlsListener ? m_tlsListener->serverPort() : 0; }
    QString controlName() const { return m_control.name(); }

    // What one announced call came to.
    struct Announcement {
        QString number;
        std::optional<Contact> caller;
        QString lineName;       // the name the line gave, shown where no contact matched
        int clients = 0;        // authenticated clients it was sent to
        bool logged = false;    // stored in the call log
        bool elsewhere = false; // rung on another server on the same database
    };

    // Looks the number up, logs the call, tells the other servers on a shared database and
    // sends it to every authenticated client.
    Announcement announceCall(const QString& number,
                              const QDateTime& at = QDateTime::currentDateTime());
    // The same for a call a source heard, with what its line told.
    Announcement announceCall(const IncomingCall& call);
    // A call another server on the same database rang and logged: looked up here and sent
    // to this server's clients.
    Announcement announceCallFromElsewhere(const QString& number, const QDateTime& at);

    int clientCount() const { return static_cast<int>(m_sessions.size()); }
    int authenticatedCount() const;
    // Bytes waiting to be sent to all clients together.
    qsizetype queuedBytes() const;
    // Replies that take more than one step, in the making.
    int repliesInTheMaking() const { return int(m_building.size()); }
    // Replies in the making that wait until some of those bytes have left.
    int repliesWaitingForRoom() const { return m_waitingForRoom ? int(m_building.size()) : 0; }
    // Whether a reply of which `built` bytes are made may grow by another step while
    // `queued` bytes wait for all clients: while both stay under the budget, or when
    // nothing else waits (the reply's own length is bounded).
    static bool mayBuildOn(qsizetype queued, qsizetype built, qsizetype budget)
    {
        return queued == 0 || queued + built < budget;
    }

    ContactStore& contacts() { return m_contacts; }
    const CallSources& sources() const { return m_sources; }
    CallLog& calls() { return m_calls; }

signals:
    void clientAuthenticated();

private:
    void onNewConnection(QTcpServer* listener);
    void onKeepAlive();
    void onRequest(ClientSession* session, const QString& message);
    void buildStep();
    void onBacklogShrunk();
    void onFinished(ClientSession* session);
    void updateKeepAlive();
    void reportTurnedAway();
    void watchTurnedAway();
    // Sends the call to every authenticated client and logs a line about it.
    void sendCall(const QDateTime& at, Announcement& result);

    Database& m_db;
    ServerConfig m_config;
    SaveRate m_saves{m_config.maxSavesPerMinute}; // every client's in the last minute
    Numbering m_numbering{m_config.country, m_config.areaCode};
    ContactStore m_contacts;
    CallLog m_calls;
    QTcpServer m_listener;
    std::unique_ptr<TlsListener> m_tlsListener;
    ControlChannel m_control;
    QList<ClientSession*> m_sessions;
    QTimer m_keepAlive;
    quint64 m_pings = 0;
    LoginGuard m_guard;
    // The connections that owe their password.
    WaitingRoom m_waiting;
    QTimer m_loginReport; // runs while the guard remembers anyone

    // Replies that take more than one step, built one after another, a step per turn of
    // the event loop.
    struct Building {
        ClientSession* session;
        std::unique_ptr<ReplyJob> job;
    };
    std::deque<Building> m_building;
    QTimer m_build;                // the next step, at the next turn
    bool m_waitingForRoom = false; // until some of what is queued has left
    quint64 m_unloggedOutage = 0;  // the database outage a lost call was last logged for
    CallSources m_sources;
};

// The one line that tells what an announcement did, for the log and the ring command.
QString describe(const Server::Announcement& announcement);
