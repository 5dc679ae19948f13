#include "saverate.h"

#include "loginguard.h"

#include <QDeadlineTimer>

qint64 SaveRate::clock()
{
    return QDeadlineTimer::current().deadline();
}

qint64 SaveRate::take(const QHostAddress& client, qint64 now)
{
    // Those who have not saved for a minute are forgotten, all at once now and then.
    if (now - m_sweptAt >= WindowMs) {
        m_sweptAt = now;
        m_saves.removeIf(
            [now](const auto& entry) { return now - entry.value().back() >= WindowMs; });
    }
    QString key = LoginGuard::group(client);
    if (!m_saves.contains(key) && m_saves.size() >= MaxClients)
        key.clear();
    std::deque<qint64>& times = m_saves[key];
    while (!times.empty() && now - times.front() >= WindowMs)
        times.pop_front();
    if (qsizetype(times.size()) >= m_perMinute)
        return times.front() + WindowMs - now;
    times.push_back(now);
    return 0;
}
