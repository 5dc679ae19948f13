#pragma once

#include "calllog.h"
#include "clientsession.h"
#include "contactstore.h"
#include "controlchannel.h"
#include "database.h"
#include "serverconfig.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
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

    QHostAddress address() const { return m_listener.serverAddress(); }
    quint16 port() const { return m_listener.serverPort(); }
    QString controlName() const { return m_control.name(); }

    // What one announced call came to.
    struct Announcement {
        QString number;
        std::optional<Contact> caller;
        int clients = 0;     // authenticated clients it was sent to
        bool logged = false; // stored in the call log
    };

    // Looks the number up, logs the call and sends it to every authenticated client.
    Announcement announceCall(const QString& number,
                              const QDateTime& at = QDateTime::currentDateTime());

    int clientCount() const { return static_cast<int>(m_sessions.size()); }
    int authenticatedCount() const;

    ContactStore& contacts() { return m_contacts; }
    CallLog& calls() { return m_calls; }

signals:
    void clientAuthenticated();

private:
    void onNewConnection();
    void onKeepAlive();
    void onMessage(ClientSession* session, const QString& message);
    void onFinished(ClientSession* session);
    void updateKeepAlive();

    Database& m_db;
    ServerConfig m_config;
    ContactStore m_contacts;
    CallLog m_calls;
    QTcpServer m_listener;
    ControlChannel m_control;
    QList<ClientSession*> m_sessions;
    QTimer m_keepAlive;
    quint64 m_pings = 0;
};

// The one line that tells what an announcement did, for the log and the ring command.
QString describe(const Server::Announcement& announcement);
