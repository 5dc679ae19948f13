#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <deque>

// How many contacts each client has saved in the last minute, to hold it to a limit. A
// client is its address (an IPv6 network its /64), so that connecting again does not start
// it afresh. Beyond MaxClients at once, newcomers share one allowance. Times are
// milliseconds of a steady clock (clock()), passed in.
class SaveRate final {
public:
    static constexpr qint64 WindowMs = 60 * 1000;
    static constexpr qsizetype MaxClients = 4096;
    static qint64 clock();

    explicit SaveRate(int perMinute) : m_perMinute(qMax(1, perMinute)) {}
    int perMinute() const { return m_perMinute; }

    // Counts a save by the client and returns 0; or, when it has saved perMinute() times in
    // the minute before, counts nothing and returns how long until it may save again.
    qint64 take(const QHostAddress& client, qint64 now);

private:
    int m_perMinute;
    QHash<QString, std::deque<qint64>> m_saves; // the times of each one's, oldest first
    qint64 m_sweptAt = 0;
};
