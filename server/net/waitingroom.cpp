#include "waitingroom.h"

#include "loginguard.h"

#include <algorithm>

bool WaitingRoom::mayConnect(const QHostAddress& address, qint64 now)
{
    const QString key = LoginGuard::group(address);
    auto found = m_rateOf.find(key);
    if (found == m_rateOf.end()) {
        if (m_rates.size() >= size_t(std::max(1, m_limits.maxAddresses))) {
            m_rateOf.remove(m_rates.back().key);
            m_rates.pop_back();
        }
        m_rates.push_front({key, double(m_limits.connectBurst), now});
        found = m_rateOf.insert(key, m_rates.begin());
    } else {
        m_rates.splice(m_rates.begin(), m_rates, *found);
    }
    Rate& rate = **found;
    const qint64 since = std::max<qint64>(0, now - rate.at);
    rate.tokens = std::min(double(m_limits.connectBurst),
                           rate.tokens + double(since) * m_limits.connectsPerSecond / 1000.0);
    rate.at = now;
    if (rate.tokens < 1)
        return false;
    rate.tokens -= 1;
    return true;
}

int WaitingRoom::places(int clientsIn) const
{
    return std::max({1, m_limits.leastPlaces, m_maxClients - clientsIn});
}

int WaitingRoom::waitingFrom(const QHostAddress& address) const
{
    const auto found = m_places.constFind(LoginGuard::group(address));
    return found == m_places.cend() ? 0 : int(found->size());
}

QObject* WaitingRoom::enter(QObject* connection, const QHostAddress& address, int clientsIn)
{
    const QString key = LoginGuard::group(address);
    QObject* out = nullptr;
    if (waitingFrom(address) >= std::max(1, m_limits.placesPerAddress))
        out = evictOldest(key);
    else if (waiting() >= places(clientsIn) && !m_ranks.empty())
        out = evictOldest(QString(m_ranks.begin()->key)); // a copy: the rank goes
    unrank(key);
    m_places[key].push_back({m_arrivals++, connection});
    rank(key);
    m_placeOf.insert(connection, key);
    return out;
}

void WaitingRoom::leave(QObject* connection)
{
    const auto held = m_placeOf.constFind(connection);
    if (held == m_placeOf.cend())
        return;
    const QString key = *held;
    m_placeOf.erase(held);
    const auto list = m_places.find(key);
    if (list == m_places.end())
        return;
    unrank(key);
    const auto place = std::find_if(list->begin(), list->end(), [connection](const Place& p) {
        return p.connection == connection;
    });
    if (place != list->end())
        list->erase(place);
    rank(key);
}

void WaitingRoom::unrank(const QString& key)
{
    const auto list = m_places.constFind(key);
    if (list != m_places.cend() && !list->empty())
        m_ranks.erase({list->size(), list->front().order, key});
}

void WaitingRoom::rank(const QString& key)
{
    const auto list = m_places.find(key);
    if (list == m_places.end())
        return;
    if (list->empty())
        m_places.erase(list);
    else
        m_ranks.insert({list->size(), list->front().order, key});
}

QObject* WaitingRoom::evictOldest(const QString& key)
{
    const auto list = m_places.find(key);
    if (list == m_places.end() || list->empty())
        return nullptr;
    unrank(key);
    QObject* out = list->front().connection;
    list->pop_front();
    rank(key);
    m_placeOf.remove(out);
    return out;
}
