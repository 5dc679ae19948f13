#pragma once

#include "inboundassembler.h"
#include "loginguard.h"
#include "pacedwriter.h"
#include "serverconfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTcpSocket>
#include <QTimer>
#include <optional>

// One client's connection: greeting, password, keep-alive bookkeeping, reassembly of
// what it sends and paced writing of what it is sent. Its requests are answered one at a
// time: the next is handed on once the answer to the one before has left the server, so
// a client that does not read holds one answer at most.
class ClientSession final : public QObject {
    Q_OBJECT
public:
    // Takes over the connected socket, greets the client and starts its time to
    // authenticate. The guard decides when its password is checked.
    ClientSession(QTcpSocket* socket, const ServerConfig& config, LoginGuard& guard,
                  QObject* parent = nullptr);
    ~ClientSession() override;

    bool isAuthenticated() const { return m_authenticated; }
    bool isOpen() const { return !m_closed; }
    QString peer() const { return m_peer; }
    QHostAddress peerAddress() const { return m_address; }

    // Queues a message; a client whose backlog passes the limit is dropped.
    void send(const QString& message);
    // The same for a message encoded for the wire already (one call for every client).
    void sendEncoded(const QByteArray& message);
    // Sends the answer to the request last handed on (nothing: it gets none).
    void answer(const std::optional<QByteArray>& reply);

    // How long since the client last sent anything.
    qint64 silentForMs() const { return m_lastHeard.elapsed(); }
    // Bytes waiting to be sent to it, and how long they have waited without any leaving.
    qsizetype pendingBytes() const { return m_writer.pendingBytes(); }
    qint64 stalledForMs() const { return m_writer.stalledForMs(); }

    // Ends the connection at once, with a line in the log (summed up by the guard for a
    // connection that had not got in).
    void drop(const QString& reason);

    // Constant-time comparison, so the time taken tells nothing about the password.
    static bool passwordMatches(const QByteArray& offered, const QByteArray& expected);

signals:
    void authenticated();
    // A request from an authenticated client, to be answered with answer().
    void requestReceived(const QString& message);
    // Some of what waited to be sent has left.
    void backlogShrunk();
    // The connection is over; the session may be deleted.
    void finished();

private:
    void onReadyRead();
    void handle(const QByteArray& message);
    void checkPassword();
    // Tells the server that the connection is a client's (authenticated()), once.
    void confirm();
    void handOnNext();
    void turnAway(LoginGuard::Outcome outcome, const QString& reason);
    void close();
    void onDisconnected();

    QTcpSocket* m_socket;
    const ServerConfig& m_config;
    LoginGuard& m_guard;
    QHostAddress m_address;
    QString m_peer;
    InboundAssembler m_assembler;
    PacedWriter m_writer;
    QTimer m_quiet;
    QTimer m_authTimer; // to send the password; without one, to say a first word
    QTimer m_pause;     // until the guard lets the password be checked
    QElapsedTimer m_lastHeard;
    std::optional<QByteArray> m_offered; // the password, while it waits to be checked
    QQueue<QByteArray> m_requests;       // waiting to be handed on
    bool m_answering = false;            // a request has been handed on and not answered
    bool m_authenticated = false;
    bool m_confirmed = false; // authenticated() has been emitted
    bool m_spoke = false;     // its first message has come
    bool m_read = false;      // its first bytes have been read
    bool m_closed = false;
};
