#pragma once

// A plain TCP client for the server tests: it records every read separately, so a test
// sees exactly how the server's messages arrive.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTest>

class WireClient final : public QObject {
public:
    explicit WireClient(quint16 port)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray chunk = m_socket.readAll();
            m_reads.append(chunk);
            if (m_answerPings && chunk.startsWith("PING_:"))
                m_socket.write("PONG_:" + chunk.mid(6));
        });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { m_gone = true; });
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    }

    // Connects and waits for the greeting; sends the password when one is given.
    bool logIn(const QByteArray& password = {})
    {
        if (!waitForReads(1))
            return false;
        if (!password.isEmpty())
            send(password);
        return true;
    }

    // Writes the bytes and lets the event loop run a moment, so a server in this same
    // process reads them before whatever is sent next (as with a real client, whose
    // messages are far apart).
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
        (void)QTest::qWaitFor([this] { return m_socket.bytesToWrite() == 0; }, 5000);
        QTest::qWait(20);
    }

    bool waitForReads(qsizetype n, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([this, n] { return m_reads.size() >= n; }, timeoutMs);
    }

    // Waits for a read that begins with the prefix and returns it (empty on time-out).
    QByteArray waitFor(const QByteArray& prefix, int timeoutMs = 5000)
    {
        QByteArray found;
        (void)QTest::qWaitFor(
            [&] {
                for (qsizetype i = m_seen; i < m_reads.size(); ++i) {
                    if (m_reads[i].startsWith(prefix)) {
                        found = m_reads[i];
                        m_seen = i + 1;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }

    // Sends a request and returns the reply (one read) beginning with the prefix.
    QByteArray ask(const QByteArray& request, const QByteArray& replyPrefix)
    {
        send(request);
        return waitFor(replyPrefix);
    }

    bool waitForDisconnected(int timeoutMs = 5000)
    {
        return QTest::qWaitFor([this] { return m_gone; }, timeoutMs);
    }

    bool isGone() const { return m_gone; }
    const QList<QByteArray>& reads() const { return m_reads; }
    void answerPings(bool on) { m_answerPings = on; }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QList<QByteArray> m_reads;
    qsizetype m_seen = 0;
    bool m_gone = false;
    bool m_answerPings = false;
};
