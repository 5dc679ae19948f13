#pragma once

#include "loginguard.h"
#include "replies.h"
#include "sourcespec.h"
#include "waitingroom.h"

#include <QHostAddress>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// Everything a running server is told at start: where it listens, its password and its
// limits. The defaults are the shipped behaviour; tests shorten the times.
struct ServerConfig {
    static constexpr int DefaultMaxClients = 2000;
    static constexpr int MostClients = 1000000; // what --max-clients takes at most

    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 6996; // 0: any free port
    QString password;    // empty: no password is asked for
    QString controlName; // empty: derived from the port the server listens on

    int authTimeoutMs = 10000;  // to send the password
    int pingIntervalMs = 30000; // between keep-alive probes
    int silenceLimitMs = 90000; // a client not heard from for this long is dropped

    // A client that answers the probes is heard from once an interval; one that misses
    // this many in a row is taken for gone.
    static constexpr int MissedProbesLimit = 3;
    void setPingInterval(int milliseconds)
    {
        pingIntervalMs = milliseconds;
        silenceLimitMs = MissedProbesLimit * milliseconds;
    }
    int messageGapMs = 25;              // at least this between two messages to one client
    int quietMs = 10;                   // a held inbound message is complete after this
    int maxClients = DefaultMaxClients; // authenticated
    WaitingRoom::Limits waiting;        // connected, password not sent yet

    qsizetype maxMessageBytes = 64 * 1024;        // inbound
    qsizetype maxPendingBytes = 32 * 1024 * 1024; // outbound, per client
    int maxWaitingRequests = 16; // per client, while the answer to an earlier one is out
    qsizetype maxReplyBytes = replies::MaxReplyBytes;
    // Outbound, all clients together: a reply that takes more than one step is built on
    // only while what waits to be sent to everyone stays below this.
    qsizetype maxQueuedBytes = 64 * 1024 * 1024;

    // Contacts the database may hold, and contacts one client may save in a minute.
    static constexpr int DefaultMaxContacts = 100000;
    static constexpr int DefaultMaxSavesPerMinute = 120;
    int maxContacts = DefaultMaxContacts;
    int maxSavesPerMinute = DefaultMaxSavesPerMinute;

    // TLS on a port of its own, the protocol unchanged inside it. Without a certificate
    // there is no TLS port.
    quint16 tlsPort = 6997; // 0: any free port
    QSslCertificate tlsCertificate;
    QList<QSslCertificate> tlsChain; // what the certificate file holds after it
    QSslKey tlsKey;
    bool tls() const { return !tlsCertificate.isNull(); }
    // Who may use the plain port: everyone, this machine only, or nobody (no plain port).
    enum class Plain { On, Loopback, Off };
    Plain plain = Plain::On;

    // Where calls come from besides the ring command, and the site's numbering plan
    // (a two-letter country and an area code), which makes numbers written in any usual
    // way match.
    QList<SourceSpec> sources;
    QString country;
    QString areaCode;

    LoginGuard::Limits login;      // pauses after wrong passwords
    int loginReportMs = 60 * 1000; // how often the log sums up those turned away
};
