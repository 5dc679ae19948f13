#include "session/connectionkeeper.h"

#include "session/missedcalls.h"
#include "session/protocol.h"
#include "session/reconnectplan.h"
#include "session/session.h"
#include "settings/settingsstore.h"

#include <QNetworkInformation>
#include <QRandomGenerator>

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
    connect(&m_due, &QTimer::timeout, this, &ConnectionKeeper::attemptNow);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ConnectionKeeper::tick);
    m_acceptance.setSingleShot(true);
    connect(&m_acceptance, &QTimer::timeout, this, &ConnectionKeeper::accepted);
    m_attemptLimit.setSingleShot(true);
    connect(&m_attemptLimit, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Attempting && !m_greetedAt.isValid())
            emit attemptTimedOut((m_attemptLimit.interval() + 999) / 1000);
    });
    m_missedRetry.setSingleShot(true);
    m_missedRetry.setInterval(MissedCallsRetryMs);
    connect(&m_missedRetry, &QTimer::timeout, this, &ConnectionKeeper::askForMissedCalls);
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
    m_missedRetry.stop();
    m_missedOutstanding = false;
}

void ConnectionKeeper::userConnect(const QString& host, const QString& port)
{
    m_host = host;
    m_port = port;
    m_reason.clear();
    forgetConnection(); // the connect closes whatever was open
    if (m_phase != Phase::Idle) {
        // The retry that was waiting is made now, by this very connect (or the one under
        // way is made again).
        attempting();
    }
    emit statusChanged();
}

bool ConnectionKeeper::userDisconnect()
{
    const bool retrying = m_phase != Phase::Idle;
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
    if (m_phase == Phase::Attempting) {
        m_phase = Phase::Idle;
        m_attempt = 0;
        emit log(QStringLiteral("Reconnected."));
        if (m_checkMissed) {
            m_missedTries = 0;
            askForMissedCalls();
        }
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

void ConnectionKeeper::callSeen(const QString& serverTime)
{
    if (missedcalls::isTime(serverTime) && serverTime > m_lastCall)
        m_lastCall = serverTime;
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
    if (passwordRefused()) {
        m_next = Next::PasswordRefused;
        return Report::AsUsual;
    }
    if (m_phase == Phase::Attempting) {
        const bool last = m_attempts != reconnectplan::Unlimited && m_attempt >= m_attempts;
        m_next = last ? Next::GiveUp : Next::Retry;
        return last ? Report::GiveUp : Report::Silently;
    }
    // The settings count at the moment the connection is lost.
    if (m_established && m_phase == Phase::Idle &&
        SettingsStore::isOn(GetSetting(SettingsStore::ClientReconnect))) {
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
        // The server's own time of the last call seen is the sure mark; without one,
        // this computer's time of the server's last word.
        m_lostAt = !m_lastCall.isEmpty() ? m_lastCall
                   : m_lastHeard.isValid()
                       ? m_lastHeard.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                       : QString();
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
    m_tickClock.start();
    m_tickWall = QDateTime::currentMSecsSinceEpoch();
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

void ConnectionKeeper::tick()
{
    // Timers stand still while the computer sleeps; its clock does not. Waking up is a
    // good moment to try at once.
    const qint64 wall = QDateTime::currentMSecsSinceEpoch();
    const qint64 slept = (wall - m_tickWall) - m_tickClock.restart();
    m_tickWall = wall;
    if (slept > SleepThresholdMs) {
        attemptNow();
        return;
    }
    emit statusChanged(); // the countdown
}

void ConnectionKeeper::watchNetwork()
{
    if (m_networkWatched)
        return;
    m_networkWatched = true;
    if (!QNetworkInformation::loadDefaultBackend() || !QNetworkInformation::instance())
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
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
    // Replies come in the order of the requests: the next statistics reply is the
    // keeper's only if the statistics window has no request of its own out.
    if (m_statisticsBusy && m_statisticsBusy()) {
        if (++m_missedTries < MissedCallsTries)
            m_missedRetry.start();
        return;
    }
    m_checkMissed = false;
    m_missedOutstanding =
        m_session.send(protocol::statsLastRequest(QString::number(missedcalls::RequestedCalls)));
}

bool ConnectionKeeper::takeStatsReply(const QString& message)
{
    if (!m_missedOutstanding)
        return false;
    m_missedOutstanding = false;
    const QStringList lines = missedcalls::lines(message, m_lostAt);
    for (const QString& line : lines)
        emit log(line);
    callSeen(missedcalls::newestTime(message)); // not to be told again after the next loss
    if (!lines.isEmpty())
        emit missedCalls(lines.size());
    return true;
}
