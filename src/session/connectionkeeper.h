#pragma once

#include "session/deadpeer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class Session;

// Keeps the connection to the server: notices one that has gone silent, gets a lost one
// back when the user has ticked Reconnect in Settings, says why a connection ended when
// the server refused the password, and after getting one back tells which calls came in
// meanwhile. The main window reports the socket's events to it and asks it how to show
// the end of a connection.
class ConnectionKeeper final : public QObject {
    Q_OBJECT
public:
    // How the main window shows the end of a connection or of an attempt.
    enum class Report {
        AsUsual,    // as without the keeper: a box for a failure, the usual log lines
        WithoutBox, // the usual log lines, no box: retries follow
        Silently,   // nothing: the keeper has logged the failed retry
        GiveUp      // the last retry failed: the failure's box and log lines
    };

    // The keeper's times; tests shorten them (times() = {...}) and put them back ({}).
    struct Times {
        // A server that ends the connection this soon after the password refused it; with
        // no password sent, it may first wait for one for a while.
        int passwordRefusedMs = 5000;
        int noPasswordRefusedMs = 15000;
        // A retry that has not reached the greeting's answer by then has failed.
        int attemptTimeoutMs = 20000;
        // The pauses between retries, stretched (tests that look at a pause).
        double delayScale = 1.0;
    };
    static Times& times();

    // While the statistics window waits for a reply of its own, the missed-calls request
    // waits too, looking again this often, so many times at the most.
    static constexpr int MissedCallsRetryMs = 1000;
    static constexpr int MissedCallsTries = 60;

    ConnectionKeeper(Session& session, QObject* parent);

    // The user connects (Connect, or the start-up setting): a new connection. While
    // retries are under way, this is the next retry, made now.
    void userConnect(const QString& host, const QString& port);
    // The user disconnects: true when that stopped retries (and said so).
    bool userDisconnect();
    // The client closes the connection itself (a rejected greeting, the exit).
    void stop();

    void connected();
    // The greeting was answered with this password.
    void greeted(const QString& password);
    // Bytes arrived: the server is alive, even in the middle of a long reply.
    void bytesArrived();
    // A whole message arrived (a keep-alive probe, or another), or a call with the
    // server's time of it.
    void received(bool isProbe);
    void callSeen(const QString& serverTime);

    // The connection or an attempt has ended: how the main window is to show it. Once
    // it has, ended() does what follows (and logs after the window's own lines).
    Report ending(bool closedByPeer);
    void ended(const QString& description);

    bool reconnecting() const { return m_phase != Phase::Idle; }
    // The status bar's texts while not connected; empty where the usual ones stand.
    QString statusText() const;
    QString detailText() const;

    // Tells whether the statistics window is waiting for a reply of its own.
    void setStatisticsBusy(std::function<bool()> busy) { m_statisticsBusy = std::move(busy); }
    // A statistics reply: true when it answered the keeper's own request.
    bool takeStatsReply(const QString& message);

    DeadPeerWatch& deadPeerWatch() { return m_dead; }

signals:
    void log(const QString& line);
    void statusChanged();
    // The server has been silent for this long: the connection is to be given up.
    void foundDead(int seconds);
    // A retry got no answer in time: it is to be given up as failed.
    void attemptTimedOut(int seconds);
    // After a reconnect, calls came in while the client was not connected.
    void missedCalls(qsizetype count);

private:
    enum class Phase { Idle, Waiting, Attempting };
    enum class Next { Nothing, PasswordRefused, Retry, GiveUp, StartRetries };

    bool passwordRefused() const;
    int refusalWindowMs() const;
    // The server has kept the connection past the refusal window, or spoken since.
    void accepted();
    // Forgets the connection that was (its retries are another matter).
    void forgetConnection();
    void scheduleNext();
    void attemptNow();
    void attempting();
    void stopRetries();
    void tick();
    void watchNetwork();
    void askForMissedCalls();

    Session& m_session;
    Phase m_phase = Phase::Idle;
    int m_attempt = 0;
    int m_attempts = 0;
    QString m_host;
    QString m_port;
    QTimer m_due;
    QTimer m_tick;
    QTimer m_attemptLimit;
    QElapsedTimer m_tickClock;
    qint64 m_tickWall = 0;

    Next m_next = Next::Nothing;
    bool m_established = false;
    QDateTime m_lastHeard;
    QElapsedTimer m_greetedAt;
    bool m_passwordSent = false;
    // The server and password of this connection, and the last such pair the server
    // kept past the refusal window: a password it took before is not refused later
    // (a server that fails again right after a restart is retried).
    QString m_login;
    QString m_acceptedLogin;
    QTimer m_acceptance;
    QString m_reason;

    DeadPeerWatch m_dead;
    bool m_networkWatched = false;

    // Calls later than this were missed: the server's time of the last call seen, or
    // else when the server was last heard (yyyy-MM-dd HH:mm:ss).
    QString m_lostAt;
    QString m_lastCall;
    bool m_checkMissed = false;
    bool m_missedOutstanding = false;
    int m_missedTries = 0;
    QTimer m_missedRetry;
    std::function<bool()> m_statisticsBusy;
};
