#include "session/connectionkeeper.h"

#include "session/missedcalls.h"
#include "session/protocol.h"
#include "session/reconnectplan.h"
#include "session/session.h"
#include "settings/settingsstore.h"

#include <QNetworkInformation>
#include <QRandomGenerator>
#include <utility>

namespace {

const QString ClosedByServer = QStringLiteral("The server closed the connection.");
// A clock that jumps this much further than the time that passed: the computer slept.
constexpr qint64 SleepThresholdMs = 5000;

} // namespace

ConnectionKeeper::Times& ConnectionKeeper::times()
{
    static Times current;
    return current;
}

ConnectionKeeper::ConnectionKeeper(Session& session, QObject* parent)
    : QObject(parent), m_session(session)
{
    m_due.setSingleShot(true);
    // A coarse timer may be set to fire a little after its time, and the countdown would
    // then show a second more than the log said.
    m_due.setTimerType(Qt::PreciseTimer);
    connect(&m_due, &QTimer::timeout, this, [this] {
        // Its timer does not count the time the computer slept: the retry comes that
        // much later than it was due.
        if (slept())
            emit log(QStringLiteral("The computer slept: reconnecting now."));
        attemptNow();
    });
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ConnectionKeeper::tick);
    m_acceptance.setSingleShot(true);
    connect(&m_acceptance, &QTimer::timeout, this, &ConnectionKeeper::accepted);
    m_attemptLimit.setSingleShot(true);
    connect(&m_attemptLimit, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Attempting && !m_greetedAt.isValid())
            emit attemptTimedOut((m_attemptLimit.interval() + 999) / 1000);
    });
    connect(&m_dead, &DeadPeerWatch::silent, this, [this](int seconds) {
        if (m_session.isConnected())
            emit foundDead(seconds);
    });
}

void ConnectionKeeper::forgetConnection()
{
    m_established = false;
    m_greetedAt.invalidate();
    m_acceptance.stop();
    m_dead.reset();
    if (m_missedOutstanding) {
        // Lost before the answer came: asked again after the next reconnect.
        m_missedOutstanding = false;
        m_checkMissed = true;
    }
}

void ConnectionKeeper::userConnect(const QString& host, const QString& port)
{
    const bool sameServer = host == m_host && port == m_port;
    m_host = host;
    m_port = port;
    m_reason.clear();
    m_next = Next::Nothing; // an end still being shown is no longer this connection's
    forgetConnection();     // the connect closes whatever was open
    if (m_phase != Phase::Idle && sameServer) {
        // The retry that was waiting is made now, by this very connect (or the one under
        // way is made again).
        attempting();
    } else if (!sameServer) {
        // Another server: a new connection, whose failure is shown as ever, and whose
        // calls are no measure of what was missed on the last one.
        stopRetries();
        m_checkMissed = false;
        m_lastCall.clear();
        m_lastCallSeen.clear();
        m_suspectedLogin.clear();
    }
    emit statusChanged();
}

bool ConnectionKeeper::userDisconnect()
{
    // The end of a connection is being shown (its box is open): what follows it is
    // decided when the box has closed.
    if (m_next != Next::Nothing)
        return false;
    // A retry that has got through is a connection like any other, even while the
    // server may still refuse its password.
    const bool retrying =
        m_phase == Phase::Waiting || (m_phase == Phase::Attempting && !m_established);
    stop();
    if (retrying)
        emit log(QStringLiteral("Reconnecting cancelled."));
    return retrying;
}

void ConnectionKeeper::stop()
{
    stopRetries();
    forgetConnection();
    m_checkMissed = false;
}

void ConnectionKeeper::keyRefused()
{
    stop();
    m_reason = QStringLiteral("Server key changed");
    emit statusChanged();
}

void ConnectionKeeper::connected()
{
    m_established = true;
    m_lastHeard = QDateTime::currentDateTime();
    m_dead.reset();
    emit statusChanged();
}

void ConnectionKeeper::greeted(const QString& password)
{
    m_greetedAt.start();
    m_passwordSent = !password.isEmpty();
    m_login =
        m_host + QLatin1Char(':') + m_port + QLatin1Char(':') + QString::number(qHash(password));
    m_reason.clear();
    // A retry counts as done only once the server has kept the connection (accepted()).
    m_attemptLimit.stop();
    m_acceptance.start(refusalWindowMs());
    emit statusChanged();
}

void ConnectionKeeper::accepted()
{
    m_acceptance.stop();
    m_acceptedLogin = m_login;
    m_suspectedLogin.clear();
    if (m_phase == Phase::Attempting) {
        m_phase = Phase::Idle;
        m_attempt = 0;
        emit log(QStringLiteral("Reconnected."));
        askForMissedCalls();
    }
    emit statusChanged();
}

void ConnectionKeeper::bytesArrived()
{
    m_lastHeard = QDateTime::currentDateTime();
    m_dead.signOfLife(false);
}

void ConnectionKeeper::received(bool isProbe)
{
    m_dead.signOfLife(isProbe);
    // Anything the server says after the password shows it kept the connection.
    if (m_acceptance.isActive())
        accepted();
}

void ConnectionKeeper::callSeen(const QString& serverTime, const QString& number)
{
    if (!missedcalls::isTime(serverTime))
        return;
    if (missedCallsPending())
        m_marks.sawAfter(serverTime, number);
    if (serverTime > m_lastCall) {
        m_lastCall = serverTime;
        m_lastCallSeen.clear();
    }
    if (serverTime == m_lastCall && m_lastCallSeen.size() < missedcalls::MaxKeptCalls)
        m_lastCallSeen.insert(missedcalls::key(serverTime, number));
}

int ConnectionKeeper::refusalWindowMs() const
{
    return m_passwordSent ? times().passwordRefusedMs : times().noPasswordRefusedMs;
}

bool ConnectionKeeper::passwordRefused() const
{
    return m_established && m_greetedAt.isValid() && m_acceptance.isActive() &&
           m_login != m_acceptedLogin;
}

ConnectionKeeper::Report ConnectionKeeper::ending(bool closedByPeer)
{
    m_next = Next::Nothing;
    const bool reconnect = SettingsStore::isOn(GetSetting(SettingsStore::ClientReconnect));
    const bool refused = passwordRefused();
    const bool established = m_established;
    // Nothing of this connection may act while its end is shown: a box runs its own
    // event loop, and a timer firing there would take the connection for accepted.
    forgetConnection();
    m_attemptLimit.stop();
    if (refused) {
        // A server that goes down right after the password looks like one that refused
        // it: with retries wanted, that is believed only when the retry meets the same.
        if (!reconnect || m_suspectedLogin == m_login) {
            m_suspectedLogin = m_login; // refused at once the next time, until taken
            m_next = Next::PasswordRefused;
            return Report::AsUsual;
        }
        m_suspectedLogin = m_login;
    }
    if (m_phase == Phase::Attempting) {
        const bool last = m_attempts != reconnectplan::Unlimited && m_attempt >= m_attempts;
        m_next = last ? Next::GiveUp : Next::Retry;
        return last ? Report::GiveUp : Report::Silently;
    }
    // The settings count at the moment the connection is lost.
    if (established && m_phase == Phase::Idle && reconnect) {
        m_next = Next::StartRetries;
        return closedByPeer ? Report::AsUsual : Report::WithoutBox;
    }
    return Report::AsUsual;
}

void ConnectionKeeper::ended(const QString& description)
{
    const Next next = m_next;
    m_next = Next::Nothing;
    forgetConnection();
    m_attemptLimit.stop();
    const QString why = description.isEmpty() ? ClosedByServer : description;
    switch (next) {
    case Next::Nothing:
        m_checkMissed = false; // not retried: nothing asks after the calls missed
        break;
    case Next::PasswordRefused:
        stopRetries();
        m_checkMissed = false;
        m_reason = QStringLiteral("Check the password");
        emit log(
            QStringLiteral("The server closed the connection: check the password in Settings."));
        break;
    case Next::Retry:
        emit log(QStringLiteral("Reconnecting failed (%1): %2")
                     .arg(reconnectplan::attemptText(m_attempt, m_attempts), why));
        scheduleNext();
        break;
    case Next::GiveUp:
        emit log(QStringLiteral("Reconnecting failed (%1): %2")
                     .arg(reconnectplan::attemptText(m_attempt, m_attempts), why));
        emit log(QStringLiteral("Reconnecting given up after %1 attempts.").arg(m_attempts));
        m_checkMissed = false;
        stopRetries();
        break;
    case Next::StartRetries:
        m_attempts = reconnectplan::attemptsFrom(GetSetting(SettingsStore::ClientReconnectAttemps));
        m_attempt = 0;
        if (missedCallsPending()) {
            // Lost again before the last loss's calls were asked for: they still count,
            // and the calls seen meanwhile stay seen.
            m_marks.until.clear();
        } else {
            // The server's own time of the last call seen is the sure mark; without one,
            // this computer's time of the server's last word.
            m_marks = {};
            m_marks.since = !m_lastCall.isEmpty() ? m_lastCall
                            : m_lastHeard.isValid()
                                ? m_lastHeard.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                : QString();
            m_marks.seenSince = m_lastCallSeen;
        }
        m_checkMissed = true;
        watchNetwork();
        scheduleNext();
        break;
    }
    emit statusChanged();
}

void ConnectionKeeper::scheduleNext()
{
    ++m_attempt;
    const double jitter = QRandomGenerator::global()->bounded(2.0) - 1.0;
    const int delay =
        static_cast<int>(reconnectplan::delayMilliseconds(m_attempt, jitter) * times().delayScale);
    m_phase = Phase::Waiting;
    m_due.start(delay);
    m_dueAt = QDateTime::currentDateTime().addMSecs(delay);
    m_tickClock.start();
    m_tickWall = QDateTime::currentMSecsSinceEpoch();
    if (m_countdownSeen)
        m_tick.start();
    emit log(QStringLiteral("Reconnecting in %1 s (%2).")
                 .arg(reconnectplan::secondsLeft(delay))
                 .arg(reconnectplan::attemptText(m_attempt, m_attempts)));
    emit statusChanged();
}

void ConnectionKeeper::attemptNow()
{
    if (m_phase != Phase::Waiting)
        return;
    // The pause is over, by its timer, a wake-up or the network coming back.
    attempting();
    emit log(QStringLiteral("Connecting."));
    m_session.connectTo(m_host, m_port);
    emit statusChanged();
}

void ConnectionKeeper::attempting()
{
    m_due.stop();
    m_tick.stop();
    m_phase = Phase::Attempting;
    m_attemptLimit.start(times().attemptTimeoutMs);
}

void ConnectionKeeper::stopRetries()
{
    m_phase = Phase::Idle;
    m_attempt = 0;
    m_due.stop();
    m_tick.stop();
    m_attemptLimit.stop();
    emit statusChanged();
}

bool ConnectionKeeper::slept()
{
    // Timers stand still while the computer sleeps; its clock does not.
    const qint64 wall = QDateTime::currentMSecsSinceEpoch();
    const qint64 slept = (wall - m_tickWall) - m_tickClock.restart();
    m_tickWall = wall;
    return slept > SleepThresholdMs;
}

void ConnectionKeeper::tick()
{
    // Waking up is a good moment to try at once.
    if (slept()) {
        attemptNow();
        return;
    }
    emit statusChanged(); // the countdown
}

void ConnectionKeeper::setCountdownSeen(bool seen)
{
    if (seen == m_countdownSeen)
        return;
    m_countdownSeen = seen;
    if (m_phase != Phase::Waiting)
        return;
    if (!seen) {
        m_tick.stop();
        return;
    }
    // Shown again: the countdown goes on from what is left, or the computer has slept
    // since and the retry is made now.
    if (slept()) {
        emit log(QStringLiteral("The computer slept: reconnecting now."));
        attemptNow();
        return;
    }
    m_tick.start();
    emit statusChanged();
}

void ConnectionKeeper::watchNetwork()
{
    if (m_networkWatched)
        return;
    m_networkWatched = true;
    if (!QNetworkInformation::loadDefaultBackend() || !QNetworkInformation::instance())
        return;
    m_reachability = QNetworkInformation::instance()->reachability();
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                const auto before = std::exchange(m_reachability, reachability);
                if (reconnectplan::networkCameBack(before, reachability))
                    attemptNow();
            });
}

QString ConnectionKeeper::statusText() const
{
    switch (m_phase) {
    case Phase::Waiting:
        return QStringLiteral("Reconnecting in %1 s")
            .arg(reconnectplan::secondsLeft(m_due.remainingTime()));
    case Phase::Attempting:
        return QStringLiteral("Reconnecting");
    case Phase::Idle:
        break;
    }
    return QString();
}

QString ConnectionKeeper::trayStatusText() const
{
    if (m_phase == Phase::Waiting)
        return QStringLiteral("Reconnecting at %1")
            .arg(m_dueAt.toString(QStringLiteral("HH:mm:ss")));
    return statusText();
}

QString ConnectionKeeper::detailText() const
{
    if (m_phase != Phase::Idle)
        return reconnectplan::attemptText(m_attempt, m_attempts);
    return m_reason;
}

void ConnectionKeeper::askForMissedCalls()
{
    if (!m_checkMissed || !m_session.isGreeted())
        return;
    // The session counts the replies off against the requests, so this one's answer
    // comes here even while the statistics window waits for one of its own.
    m_checkMissed = false;
    m_missedOutstanding =
        m_session.send(protocol::statsLastRequest(QString::number(missedcalls::RequestedCalls)),
                       StatsOrder::Asker::Keeper);
}

void ConnectionKeeper::statsReplyLost()
{
    // Not asked again: a server that answered so is not to be believed about them.
    if (std::exchange(m_missedOutstanding, false))
        m_marks = {};
}

void ConnectionKeeper::takeStatsReply(const QString& message)
{
    if (!m_missedOutstanding)
        return;
    m_missedOutstanding = false;
    const QList<missedcalls::Call> calls = missedcalls::calls(message);
    const QStringList lines = missedcalls::lines(calls, m_marks);
    for (const QString& line : lines)
        emit log(line);
    for (const missedcalls::Call& call : calls) // not to be told again after the next loss
        callSeen(call.time, call.number);
    m_marks = {};
    if (!lines.isEmpty())
        emit missedCalls(lines.size());
}
