#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <array>

// Keeps password guessing slow and its trace in the log short.
//
// For each source address it counts the wrong passwords in a row: after the n-th, the
// next password from that address is checked no sooner than firstPauseMs · 2^(n−1)
// later, and never more than longestPauseMs (0.25 s doubling up to 4 s: a client takes a
// close within 5 s of its password for a refused password, and should go on doing so).
// Passwords from one address are thus checked one pause apart however many connections
// carry them. An address quiet for forgetAfterMs starts afresh. At most maxAddresses are
// told apart; further ones share one entry, so that many addresses gain nothing. An IPv6
// network counts as one address (group()): the addresses of its /64 are its owner's.
//
// A connection that does not get in (wrong password, none sent, server full, too many
// from its address, not a Quillora client) gets a log
// line of its own only when it is the first of its kind from its address; report() sums
// up the others. Times are milliseconds of a steady clock (clock()), passed in.
class LoginGuard final {
public:
    struct Limits {
        int firstPauseMs = 250;
        int longestPauseMs = 4000;
        int forgetAfterMs = 60000;
        int maxAddresses = 1024;
    };
    enum class Outcome { WrongPassword, NoPassword, ServerFull, TooFast, NotAClient };
    static constexpr int Outcomes = 5;

    explicit LoginGuard(const Limits& limits) : m_limits(limits) {}

    static qint64 clock();
    // What an address is told apart by: itself, an IPv4 address within IPv6 as IPv4, an IPv6
    // address by its /64 ("2001:db8:1:2::/64").
    static QString group(const QHostAddress& address);

    // How long a password from the address must wait before it is checked (0: now).
    qint64 pauseMs(const QHostAddress& address, qint64 now) const;
    // Records a connection that did not get in. True when it is the first of its kind
    // from its address: the caller logs it on a line of its own.
    bool record(const QHostAddress& address, Outcome outcome, qint64 now);
    // A right password: the address's wrong ones in a row are forgotten.
    void succeeded(const QHostAddress& address);

    // A line per address and outcome for those recorded since the last report that had
    // no line of their own ("12 more wrong passwords from 10.0.0.7 in the last minute."),
    // in address order; then forgets the addresses quiet for forgetAfterMs.
    QStringList report(qint64 now, const QString& period);

    bool isEmpty() const { return m_entries.isEmpty(); }
    // The addresses told apart, and the shared entry when it is in use.
    qsizetype entries() const { return m_entries.size(); }

private:
    struct Entry {
        int wrongInARow = 0;
        qint64 lastWrong = 0;
        qint64 lastSeen = 0;
        std::array<int, Outcomes> seen{};       // by outcome, since the address was last forgotten
        std::array<int, Outcomes> unreported{}; // by outcome, without a line of their own
    };
    // The key of the address's entry: its own, or the shared one once the table is full.
    QString keyFor(const QHostAddress& address) const;
    bool isQuiet(const Entry& entry, qint64 now) const;

    Limits m_limits;
    QHash<QString, Entry> m_entries;
};
