#pragma once

#include "session/connectingwatch.h"
#include "session/linkpace.h"
#include "session/messageassembler.h"
#include "session/resetwatch.h"
#include "session/statsorder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSslSocket>
#include <QString>
#include <QTimer>

// The one connection to the server. It turns the socket's signals into the classic
// events (Connect, Close, Error, data arrival), each delivered queued so that a handler
// never runs inside the socket's own signal, and assembles received data into messages.
class Session final : public QObject {
    Q_OBJECT
public:
    // The classic state numbers; only Closed and Connected are relied on.
    enum State {
        Closed = 0,
        Open = 1,
        Listening = 2,
        Resolving = 4,
        Connecting = 6,
        ConnectedState = 7,
        Closing = 8
    };

    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    int state() const;
    bool isConnected() const { return state() == ConnectedState; }

    // Abandons any earlier attempt or connection and starts a new attempt. A port that
    // is not a number from 1 to 65535 fails through the Error event. With TLS on in the
    // settings the connection is encrypted from the first byte, and the Connect event
    // comes once the server is known: by its certificate, or by the key trusted for it.
    void connectTo(const QString& host, const QString& port);

    // The connection is encrypted (TLS).
    bool isEncrypted() const { return m_socket.isEncrypted(); }
    // "host:port" of the last attempt, as it was given.
    QString target() const { return m_target; }

    // Closes whatever is open; raises no Close event.
    void close();

    // Changes with every close and every new attempt: what a handler saw before a box
    // opened tells it afterwards whether the connection is still the one it was about.
    quint64 connectionSerial() const { return m_attempt; }

    // Sends exactly the text, nothing added. False when it could not be sent. A
    // statistics or contacts request starts the timing of the link (see linkpace.h); a
    // statistics request is counted as the asker's, for its reply (see statsorder.h).
    bool send(const QString& text, StatsOrder::Asker asker = StatsOrder::Asker::Window);

    // A statistics reply is being handed on now: whose it is.
    StatsOrder::Goes statsReplyArrived(const QString& reply);
    // The statistics window is closed: replies to its queries are dropped.
    void statsWindowGaveUp() { m_statsOrder.windowGaveUp(); }

    // The system's socket while one is open (-1 otherwise), for its options.
    qintptr socketDescriptor() const { return m_socket.socketDescriptor(); }

    QString peerAddress() const;
    quint16 peerPort() const;

    // The server's greeting on this connection has been answered with the password, so
    // what is sent now is taken as a request. False again once the connection ends.
    void setGreeted()
    {
        m_greeted = isConnected();
        m_greetingHandled = true;
    }
    bool isGreeted() const { return m_greeted && isConnected(); }

    // A connection has one greeting: once it has been answered or refused, any further
    // greeting is to be ignored. After a refusal nothing more of the connection is
    // handed on, not even what had arrived before.
    bool greetingHandled() const { return m_greetingHandled; }
    void refuseGreeting()
    {
        m_greetingHandled = true;
        m_refused = true;
    }

    // Answers the keep-alive probe being handed on now with its own bytes after the
    // prefix, exactly as they came (the probe's text stands in when there is none).
    bool answerPing(const QString& ping);

    // More than this waiting to be sent: the server has stopped reading, and the
    // connection is given up as failed.
    static constexpr qint64 MaxUnsentBytes = 4 * 1024 * 1024;

    // How long a held reply waits for more data before it counts as complete: at least
    // this, longer on a slow link (see linkpace.h). A statistics reply that holds every
    // field it states waits only twice the longest gap between its own reads.
    static constexpr int DefaultQuietMilliseconds = LinkPace::DefaultMinimumMs;
    // A statistics reply known to be short of the fields it states waits this many
    // quiet times before it counts as complete all the same.
    static constexpr int ShortReplyQuietFactor = 3;
    void setQuietInterval(int milliseconds) { m_pace.setMinimum(milliseconds); }
    int quietInterval() const { return m_pace.quietMs(); }

    // How much of a statistics reply has arrived and is still being put together.
    qsizetype heldStatsBytes() const { return m_assembler.heldStatsBytes(); }

signals:
    void connected();
    void peerClosed();
    void failed(int number, const QString& description);
    // The server's certificate does not verify and no key is trusted for it: the connection
    // is closed, nothing was sent; `pin` is its key, `why` what is wrong with it.
    void keyUntrusted(const QString& pin, const QString& why);
    // The server's key is not the one trusted for it: closed, nothing was sent.
    void keyChanged(const QString& trusted, const QString& offered);
    void stateChanged();
    void messageReceived(const QString& message);
    // Bytes came in (emitted as they are read, before any message is complete).
    void dataArrived();
    void messageDropped(qsizetype bytes);
    // The reply to the keeper's statistics request will not come: it was dropped.
    void keeperReplyLost();

private:
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    // The peer ended the connection: by a reset, the Error event; in order, the Close event.
    void onPeerGone();
    void onStateChanged(QAbstractSocket::SocketState state);
    void onResetWhileConnecting();
    void onSslErrors(const QList<QSslError>& errors);
    void onEncrypted();
    // The server's key is not to be trusted: nothing more of the connection is handed on.
    void rejectKey(std::function<void()> report);
    // Ends the connection from this side and reports it through the Error event.
    void fail(int number, const QString& description);
    bool sendBytes(const QByteArray& bytes);
    void handOn(const QByteArray& message);
    void post(std::function<void()> event);

    QSslSocket m_socket;
    MessageAssembler m_assembler;
    StatsOrder m_statsOrder;
    ResetWatch m_resetWatch;
    ConnectingWatch m_connecting{m_socket};
    QTimer m_quiet;
    LinkPace m_pace;
    QElapsedTimer m_clock;  // for m_pace
    quint64 m_attempt = 0;  // events of an abandoned attempt are not delivered
    bool m_closing = false; // a local close raises no Close event
    QString m_pin;          // the key trusted for the server being connected to
    QString m_target;
    bool m_handshaking = false; // connected, the TLS handshake under way
    bool m_greeted = false;
    bool m_greetingHandled = false;
    bool m_refused = false;
    QByteArray m_pingInHand; // the raw probe whose text is being handed on
    bool m_failed = false;   // the end of a connection raises one event, Error or Close
};
