#pragma once

// A TCP client of the server for the server tests: it records each read on its own, to see
// exactly how messages arrive, and can stand for a client that never reads.

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

class WireClient final : public QObject {
public:
    // Counts: reads everything and keeps only the count (for replies of many megabytes),
    // answering the pings that begin a read.
    enum class Reading { AnswersPings, IgnoresPings, Counts, Never };

    // Connects from the loopback address `from` (any address of 127.0.0.0/8 will do, to
    // stand for another machine).
    explicit WireClient(quint16 port, Reading reading = Reading::AnswersPings,
                        const QHostAddress& from = QHostAddress::LocalHost)
    {
        if (reading == Reading::Never) {
            // Nothing is taken from the system, whose buffer for it is kept small: what
            // the server sends piles up on the server's side.
            m_socket.setReadBufferSize(1);
            m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        } else if (reading == Reading::Counts) {
            connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
                const QByteArray chunk = m_socket.readAll();
                received += chunk.size();
                if (chunk.startsWith("PING_:"))
                    m_socket.write("PONG_:" + chunk.mid(6));
            });
        } else {
            connect(&m_socket, &QTcpSocket::readyRead, this, [this, reading] {
                reads.append(m_socket.readAll());
                received += reads.last().size();
                if (reading == Reading::AnswersPings && reads.last().startsWith("PING_:"))
                    m_socket.write("PONG_:" + reads.last().mid(6));
            });
        }
        if (from != QHostAddress::LocalHost)
            m_socket.bind(from);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void write(const QByteArray& bytes) { m_socket.write(bytes); }
    // Writes the bytes and gives the server a moment to read them on their own; given a
    // prefix, the next read that begins with it.
    QByteArray send(const QByteArray& bytes, const char* prefix = nullptr)
    {
        write(bytes);
        QTest::qWait(30);
        return prefix ? next(prefix) : QByteArray();
    }
    // The next read after those already taken that begins with the prefix; empty if none
    // came within the time.
    QByteArray next(const QByteArray& prefix, int timeoutMs = 5000)
    {
        (void)QTest::qWaitFor(
            [&] {
                while (m_taken < reads.size() && !reads[m_taken].startsWith(prefix))
                    ++m_taken;
                return m_taken < reads.size();
            },
            timeoutMs);
        return m_taken < reads.size() ? reads[m_taken++] : QByteArray();
    }
    // Everything received from the read that begins with the prefix on, once `bytes` have
    // come (empty if they did not within the time): a reply that spans many reads.
    QByteArray whole(const QByteArray& prefix, qsizetype bytes, int timeoutMs = 30000)
    {
        if (next(prefix, timeoutMs).isEmpty())
            return {};
        const qsizetype first = m_taken - 1;
        QByteArray message;
        (void)QTest::qWaitFor(
            [&] {
                message.clear();
                for (qsizetype i = first; i < reads.size() && message.size() < bytes; ++i)
                    message += reads[i];
                return message.size() >= bytes;
            },
            timeoutMs);
        return message.size() >= bytes ? message : QByteArray();
    }

    bool gone() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    void close() { m_socket.abort(); }

    QList<QByteArray> reads;
    qint64 received = 0;

private:
    QTcpSocket m_socket;
    qsizetype m_taken = 0;
};
