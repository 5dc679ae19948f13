#pragma once

#include "callsource.h"

#include <QByteArray>
#include <QTimer>

class QAbstractSocket;

// A call source that is a TCP client (optionally TLS) of a device speaking a line protocol:
// a router's call monitor, a PBX's manager interface. It connects without blocking, gives a
// try up after timing.connectTimeoutMs (counted until the subclass reports itself up, so a
// peer that accepts but never answers a login is cut too), and after a loss or a failed try
// connects again after timing.firstRetryMs, doubled after each failed try up to
// timing.longestRetryMs and back to the first pause once it is up again. Connected and idle
// it runs no timer.
//
// It hands the subclass whole lines (LF or CRLF, the line end taken off). A line longer
// than MaxLineBytes cuts the connection: nothing the peer sends is held beyond a few KiB,
// neither here nor in the socket.
class NetworkSource : public CallSource {
    Q_OBJECT
public:
    static constexpr qsizetype MaxLineBytes = 4096;

    ~NetworkSource() override;

    QString name() const override { return m_name; }
    void start() override;

    // The most bytes of the peer's it has held at once (read or waiting in the socket), so
    // the bound on what a peer can make it buffer can be seen.
    qsizetype mostHeld() const { return m_mostHeld; }

protected:
    // kind names it in the log: "fritzbox" gives "fritzbox 192.168.178.1:1012".
    NetworkSource(const QString& kind, const QString& host, quint16 port, bool tls,
                  SourceTiming timing, QObject* parent);

    const QString& host() const { return m_host; }

    // A new connection is open (and encrypted, with TLS): begin anew.
    virtual void connected() = 0;
    // One line from the peer, without its line end.
    virtual void lineReceived(const QByteArray& line) = 0;

    void send(const QByteArray& bytes);
    // Cuts the connection: down with the reason, a new try after the pause.
    void fail(const QString& why);

private:
    void connectNow();
    void readLines();
    void timedOut();
    QString reason() const;

    const QString m_host;
    const quint16 m_port;
    const bool m_tls;
    const SourceTiming m_timing;
    const QString m_name;
    QAbstractSocket* m_socket = nullptr;
    QByteArray m_partial; // the start of a line whose end has not come yet
    qsizetype m_mostHeld = 0;
    int m_pauseMs;
    QTimer m_connectTimer;
    QTimer m_retryTimer;
};
