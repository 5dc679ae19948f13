#pragma once

#include "session/deadpeer.h"
#include "session/missedcalls.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QNetworkInformation>
#include <QObject>
#include <QString>
#include <QTimer>

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

    ConnectionKeeper(Session& session, QObject* parent);

    // The user connects (Connect, or the start-up setting): a new connection. While
    // retries to the same server are under way, this is the next retry, made now.
    void userConnect(const QString& host, const QString& port);
    // The user disconnects: true when that stopped retries (and said so).
    bool userDisconnect();
    // The client closes the connection itself (a rejected greeting, the exit).
    void stop();
    // The server's key was not the one trusted for it: as stop(), and the status says so.
    void keyRefused();

    void connected();
    // The greeting was answered with this password.
    void greeted(const QString& password);
    // Bytes arrived: the server is alive, even in the middle of a long reply.
    void bytesArrived();
    // A whole message arrived (a keep-alive probe, or another), or a call with the
    // server's time of it and its number.
    void received(bool isProbe);
    void callSeen(const QString& serverTime, const QString& number);

    // The connection or an attempt has ended: how the main window is to show it. Once
    // it has, ended() does what follows (and logs after the window's own lines); nothing
    // of the ended connection runs on in between, while a box may be open.
    Report ending(bool closedByPeer);
    void ended(const QString& description);

    bool reconnecting() const { return m_phase != Phase::Idle; }
    // The status bar's texts while not connected; empty where the usual ones stand. The
    // tray's tooltip, which cannot be watched for being read, tells the time of the next
    // retry instead of counting down to it.
    QString statusText() const;
    QString trayStatusText() const;
    QString detailText() const;

    // Whether the status bar can be seen: only then does the countdown tick.
    void setCountdownSeen(bool seen);

    // The answer to the keeper's own statistics request, or word that it was lost.
    void takeStatsReply(const QString& message);
    void statsReplyLost();

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
    // Whether the computer slept since the countdown clocks were last read (and reads them).
    bool slept();
    void watchNetwork();
    void askForMissedCalls();
    bool missedCallsPending() const { return m_checkMissed || m_missedOutstanding; }

    Session& m_session;
    Phase m_phase = Phase::Idle;
    int m_attempt = 0;
    int m_attempts = 0;
    QString m_host;
    QString m_port;
    QTimer m_due;
    QDateTime m_dueAt;
    QTimer m_tick;
    bool m_countdownSeen = false;
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
    // A login the server closed right after the password once: a server going down just
    // then looks the same, so it is taken for a refusal only when it happens again (and
    // from then on at once, until the server takes it).
    QString m_suspectedLogin;
    QTimer m_acceptance;
    QString m_reason;

    DeadPeerWatch m_dead;
    bool m_networkWatched = false;
    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;

    // The server's time of the last call seen (yyyy-MM-dd HH:mm:ss) and the calls seen of
    // that second; what was seen around the latest loss, to tell the missed calls by.
    QString m_lastCall;
    QSet<QString> m_lastCallSeen;
    missedcalls::Marks m_marks;
    bool m_checkMissed = false;
    bool m_missedOutstanding = false;
};
