#include "session/reconnectplan.h"

#include "session/protocol.h"

#include <algorithm>

namespace reconnectplan {

int attemptsFrom(const QString& setting)
{
    const QString text = setting.trimmed();
    if (text.isEmpty() || text.size() > 9 || !protocol::isAllDigits(text))
        return DefaultAttempts;
    return text.toInt();
}

int delayMilliseconds(int attempt, double jitter)
{
    constexpr int LongestSeconds = 60;
    const int doublings = std::clamp(attempt - 1, 0, 6);
    const int seconds = std::min(1 << doublings, LongestSeconds);
    const double factor = 1.0 + 0.2 * std::clamp(jitter, -1.0, 1.0);
    return static_cast<int>(seconds * 1000 * factor);
}

QString attemptText(int attempt, int attempts)
{
    if (attempts == Unlimited)
        return QStringLiteral("attempt %1").arg(attempt);
    return QStringLiteral("attempt %1 of %2").arg(attempt).arg(attempts);
}

int secondsLeft(qint64 milliseconds)
{
    return static_cast<int>(std::max<qint64>(0, (milliseconds + 999) / 1000));
}

bool networkCameBack(QNetworkInformation::Reachability before,
                     QNetworkInformation::Reachability now)
{
    using R = QNetworkInformation::Reachability;
    const bool wasDown = before == R::Disconnected || before == R::Local;
    return wasDown && (now == R::Site || now == R::Online);
}

} // namespace reconnectplan
