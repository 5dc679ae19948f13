#pragma once

#include "inboundassembler.h"
#include "pacedwriter.h"
#include "serverconfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// One client's connection: greeting, password, keep-alive bookkeeping, reassembly of
// what it sends and paced writing of what it is sent.
class ClientSession final : public QObject {
    Q_OBJECT
public:
    // Takes over the connected socket, greets the client and starts its time to
    // authenticate.
    ClientSession(QTcpSocket* socket, const ServerConfig& config, QObject* parent = nullptr);
    ~ClientSession() override;

    bool isAuthenticated() const { return m_authenticated; }
    bool isOpen() const { return !m_closed; }
    QString peer() const { return m_peer; }

    // Queues a message; a client whose backlog passes the limit is dropped.
    void send(const QString& message);
    // How long since the client last sent anything.
    qint64 silentForMs() const { return m_lastHeard.elapsed(); }

    // Ends the connection at once, with a line in the log.
    void drop(const QString& reason);

    // Constant-time comparison, so the time taken tells nothing about the password.
    static bool passwordMatches(const QByteArray& offered, const QByteArray& expected);

signals:
    void authenticated();
    // A complete message from an authenticated client.
    void messageReceived(const QString& message);
    // The connection is over; the session may be deleted.
    void finished();

private:
    void onReadyRead();
    void handle(const QByteArray& message);
    void onDisconnected();

    QTcpSocket* m_socket;
    const ServerConfig& m_config;
    QString m_peer;
    InboundAssembler m_assembler;
    PacedWriter m_writer;
    QTimer m_quiet;
    QTimer m_authTimer;
    QElapsedTimer m_lastHeard;
    bool m_authenticated = false;
    bool m_closed = false;
};
