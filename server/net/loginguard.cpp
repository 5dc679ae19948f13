#include "loginguard.h"

#include <QDeadlineTimer>
#include <algorithm>

namespace {

// The key of the entry that addresses beyond the table's limit share.
const QString Others = QStringLiteral("other addresses");

int index(LoginGuard::Outcome outcome)
{
    return static_cast<int>(outcome);
}

QString plural(int n, const char* word)
{
    return QStringLiteral("%1 more %2%3").arg(n).arg(QLatin1String(word)).arg(n == 1 ? "" : "s");
}

} // namespace

qint64 LoginGuard::clock()
{
    return QDeadlineTimer::current().deadline();
}

QString LoginGuard::group(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ipv4).toString();
    if (address.protocol() != QAbstractSocket::IPv6Protocol) // none at all, for one reset at once
        return address.isNull() ? QStringLiteral("an unknown address") : address.toString();
    Q_IPV6ADDR network = address.toIPv6Address();
    std::fill(network.c + 8, network.c + 16, quint8(0));
    return QHostAddress(network).toString() + QStringLiteral("/64");
}

QString LoginGuard::keyFor(const QHostAddress& address) const
{
    const QString key = group(address);
    if (m_entries.contains(key) ||
        m_entries.size() - m_entries.contains(Others) < qsizetype(m_limits.maxAddresses))
        return key;
    return Others;
}

bool LoginGuard::isQuiet(const Entry& entry, qint64 now) const
{
    return now - entry.lastSeen >= m_limits.forgetAfterMs;
}

qint64 LoginGuard::pauseMs(const QHostAddress& address, qint64 now) const
{
    const auto it = m_entries.constFind(keyFor(address));
    if (it == m_entries.cend() || it->wrongInARow == 0 || isQuiet(*it, now))
        return 0;
    qint64 pause = m_limits.firstPauseMs;
    for (int n = 1; n < it->wrongInARow && pause < m_limits.longestPauseMs; ++n)
        pause *= 2;
    pause = std::min<qint64>(pause, m_limits.longestPauseMs);
    return std::max<qint64>(0, it->lastWrong + pause - now);
}

bool LoginGuard::record(const QHostAddress& address, Outcome outcome, qint64 now)
{
    Entry& entry = m_entries[keyFor(address)];
    if (isQuiet(entry, now)) { // starts afresh; what is unreported stays to be reported
        entry.wrongInARow = 0;
        entry.seen = {};
    }
    entry.lastSeen = now;
    if (outcome == Outcome::WrongPassword) {
        ++entry.wrongInARow;
        entry.lastWrong = now;
    }
    const int i = index(outcome);
    if (++entry.seen[i] == 1)
        return true;
    ++entry.unreported[i];
    return false;
}

void LoginGuard::succeeded(const QHostAddress& address)
{
    const auto it = m_entries.find(group(address));
    if (it != m_entries.end())
        it->wrongInARow = 0;
}

QStringList LoginGuard::report(qint64 now, const QString& period)
{
    QStringList keys = m_entries.keys();
    std::sort(keys.begin(), keys.end());
    QStringList lines;
    for (const QString& key : std::as_const(keys)) {
        Entry& entry = m_entries[key];
        const std::array<int, Outcomes>& n = entry.unreported;
        const QString from = QStringLiteral(" from %1").arg(key);
        const QString last = QStringLiteral(" in the last %1.").arg(period);
        if (n[index(Outcome::WrongPassword)] > 0)
            lines << plural(n[index(Outcome::WrongPassword)], "wrong password") + from + last;
        if (n[index(Outcome::NoPassword)] > 0)
            lines << plural(n[index(Outcome::NoPassword)], "connection") + from +
                         QStringLiteral(" closed without a password") + last;
        if (n[index(Outcome::ServerFull)] > 0)
            lines << plural(n[index(Outcome::ServerFull)], "connection") + from +
                         QStringLiteral(" turned away: the server was full") + last;
        if (n[index(Outcome::TooFast)] > 0)
            lines << plural(n[index(Outcome::TooFast)], "connection") + from +
                         QStringLiteral(" refused: too many at once") + last;
        if (n[index(Outcome::NotAClient)] > 0)
            lines << plural(n[index(Outcome::NotAClient)], "connection") + from +
                         QStringLiteral(" closed: not a Quillora client") + last;
        entry.unreported = {};
        if (isQuiet(entry, now))
            m_entries.remove(key);
    }
    return lines;
}
