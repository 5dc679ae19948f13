#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <deque>
#include <list>
#include <set>

class QObject;

// The places of connections that have not sent their password yet, and how fast an address
// may open connections. Addresses are told apart as the login guard tells them apart (an
// IPv6 network by its /64).
//
// All addresses together hold as many places as the clients that are not in could want
// (the most clients less those in), and never fewer than leastPlaces: after a restart every
// client finds one, whatever its link or its TLS handshake takes. One address holds at most
// placesPerAddress of them; a newcomer from an address that has its share takes the place of
// that address's longest waiting connection, and a newcomer that finds all places taken that
// of the address holding the most. So an address that opens connections as fast as it can
// only pushes out its own.
//
// An address may open connectBurst connections at once and connectsPerSecond on end; the
// server closes further ones at once, before they cost it a greeting. The rates of the
// maxAddresses addresses heard from last are kept, so that many addresses cannot grow the
// table; one pushed out of it starts afresh. Times are milliseconds of a steady clock,
// passed in.
class WaitingRoom final {
public:
    struct Limits {
        int leastPlaces = 32;      // within the files the server keeps aside (filelimit)
        int placesPerAddress = 16; // several users on one machine, or behind one router
        int connectBurst = 64;
        int connectsPerSecond = 16;
        int maxAddresses = 4096;
    };

    WaitingRoom(const Limits& limits, int maxClients) : m_limits(limits), m_maxClients(maxClients)
    {
    }

    // Whether a connection from the address may be let in now (one more connection counted).
    bool mayConnect(const QHostAddress& address, qint64 now);

    // Gives the connection a place while `clientsIn` clients are in; the one that must give
    // way to it, or nullptr. That one has lost its place already.
    QObject* enter(QObject* connection, const QHostAddress& address, int clientsIn);
    // The connection got in or is gone: its place is free (nothing if it had none).
    void leave(QObject* connection);

    int waiting() const { return int(m_placeOf.size()); }
    int waitingFrom(const QHostAddress& address) const;
    // The places while `clientsIn` clients are in.
    int places(int clientsIn) const;
    // The addresses whose connect rate is kept.
    int addressesKept() const { return int(m_rateOf.size()); }

private:
    struct Place {
        quint64 order; // of arrival
        QObject* connection;
    };
    // An address in the order of who gives way: the most places held first, then the
    // longest waiting.
    struct Rank {
        size_t held;
        quint64 oldest;
        QString key;
        bool operator<(const Rank& other) const
        {
            if (held != other.held)
                return held > other.held;
            if (oldest != other.oldest)
                return oldest < other.oldest;
            return key < other.key;
        }
    };
    struct Rate {
        QString key;
        double tokens;
        qint64 at; // when the tokens were counted
    };

    // Takes the address out of the ranks before its places change, and puts it back after.
    void unrank(const QString& key);
    void rank(const QString& key);
    QObject* evictOldest(const QString& key);

    Limits m_limits;
    int m_maxClients;
    quint64 m_arrivals = 0;
    QHash<QString, std::deque<Place>> m_places; // by address, longest waiting first
    QHash<QObject*, QString> m_placeOf;         // the address whose place each holds
    std::set<Rank> m_ranks;                     // the addresses holding places
    std::list<Rate> m_rates;                    // most recently heard from first
    QHash<QString, std::list<Rate>::iterator> m_rateOf;
};
