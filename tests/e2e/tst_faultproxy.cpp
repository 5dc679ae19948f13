// The fault proxy that other tests put between the client and the server: each mode,
// switched while connections are open, and its bound on what it holds.

#include "faultproxy.h"
#include "session/resetwatch.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::FaultProxy;

namespace {

constexpr int Never = 600000; // an interval or latency no test waits out
constexpr int Settle = 200;   // time for data a broken proxy would let through to arrive

// One connection through the proxy: the client's socket and the target's accepted one.
struct Pair {
    QTcpServer target;
    std::unique_ptr<FaultProxy> proxy;
    QTcpSocket client;
    QTcpSocket* server = nullptr;
    QByteArray toClient; // what each side has read
    QByteArray toServer;
    bool clientReads = true;
    // The client's end, watched to tell a reset from a close. (A watch keeps its socket
    // open, so the side that closes first is never watched.)
    ResetWatch clientWatch;

    explicit Pair(qsizetype maxBuffered = FaultProxy::DefaultMaxBufferedBytes)
    {
        target.listen(QHostAddress::LocalHost, 0);
        proxy = std::make_unique<FaultProxy>(target.serverPort(), maxBuffered);
    }
    bool connect()
    {
        client.connectToHost(QHostAddress::LocalHost, proxy->port());
        if (!QTest::qWaitFor([this] {
                return client.state() == QAbstractSocket::ConnectedState &&
                       target.hasPendingConnections();
            }))
            return false;
        server = target.nextPendingConnection();
        clientWatch.attach(client.socketDescriptor());
        QObject::connect(&client, &QTcpSocket::readyRead, [this] {
            if (clientReads)
                toClient += client.readAll();
        });
        QObject::connect(server, &QTcpSocket::readyRead, [this] { toServer += server->readAll(); });
        return true;
    }
    static bool closed(const QTcpSocket* socket)
    {
        return socket->state() == QAbstractSocket::UnconnectedState;
    }
};

// Connects a plain socket to the port (the kernel completes the handshake before the
// proxy accepts) and tells how the proxy ended the connection: "reset", "closed", or
// "open" if it did neither within a few seconds.
QString howItEnds(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return QStringLiteral("refused");
    }
    QString end = QStringLiteral("open");
    (void)QTest::qWaitFor([&] {
        char byte = 0;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        if (n == 0)
            end = QStringLiteral("closed");
        else if (n < 0 && errno == ECONNRESET)
            end = QStringLiteral("reset");
        return end != QLatin1String("open");
    });
    ::close(fd);
    return end;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

} // namespace

class TestFaultProxy final : public QObject {
    Q_OBJECT
private slots:
    void passThroughForwardsDataAndCloses()
    {
        Pair pair;
        QVERIFY(pair.connect());
        pair.client.write("hello");
        pair.server->write("welcome");
        QTRY_COMPARE(pair.toServer, QByteArray("hello"));
        QTRY_COMPARE(pair.toClient, QByteArray("welcome"));
        QCOMPARE(pair.proxy->connectionCount(), 1);
        // The server's last words arrive before its orderly close.
        pair.server->write("bye");
        pair.server->disconnectFromHost();
        QTRY_VERIFY(Pair::closed(&pair.client));
        QCOMPARE(pair.toClient, QByteArray("welcomebye"));
        QVERIFY(!pair.clientWatch.wasReset());
        QTRY_COMPARE(pair.proxy->connectionCount(), 0);
    }

    // Chunks and latency, each held back until the mode changes.
    void slowLinkDeliversChunksAndDelaysRequests()
    {
        Pair pair;
        QVERIFY(pair.connect());
        pair.proxy->setSlowLink(1000, Never, Never);
        pair.server->write(pattern(3000));
        QTRY_VERIFY(!pair.toClient.isEmpty());
        pair.client.write("request");
        QTest::qWait(Settle);
        QCOMPARE(pair.toClient, pattern(1000)); // one chunk, the next one is far off
        QVERIFY(pair.toServer.isEmpty());       // and the request is still on its way
        QVERIFY(pair.proxy->bufferedBytes() >= 2000 + 7);

        // Chunks every 20 ms: the rest comes in two more.
        pair.proxy->setSlowLink(1000, 20, Never);
        QTRY_COMPARE(pair.toClient, pattern(3000));
        QVERIFY(pair.toServer.isEmpty());
        // Passed through, what waited goes first, then what comes next.
        pair.proxy->setMode(FaultProxy::Mode::PassThrough);
        pair.client.write(" and more");
        QTRY_COMPARE(pair.toServer, QByteArray("request and more"));
        QCOMPARE(pair.proxy->bufferedBytes(), qsizetype(0));
    }

    void blackHoleForwardsNothingAndClosesNothing()
    {
        Pair pair;
        QVERIFY(pair.connect());
        pair.proxy->setMode(FaultProxy::Mode::BlackHole);
        pair.client.write("up");
        pair.server->write("down");
        pair.server->disconnectFromHost();
        QTest::qWait(Settle);
        QVERIFY(pair.toServer.isEmpty() && pair.toClient.isEmpty());
        QCOMPARE(pair.client.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(pair.proxy->connectionCount(), 1);
        // Back to normal: the data, then the server's close, reach the client.
        pair.proxy->setMode(FaultProxy::Mode::PassThrough);
        QTRY_VERIFY(Pair::closed(&pair.client));
        QCOMPARE(pair.toClient, QByteArray("down"));
        QVERIFY(!pair.clientWatch.wasReset());
    }

    void resetEndsBothSidesAndRefusesNewcomers()
    {
        Pair pair;
        QVERIFY(pair.connect());
        ResetWatch serverWatch;
        serverWatch.attach(pair.server->socketDescriptor());
        pair.proxy->setMode(FaultProxy::Mode::Reset);
        QTRY_VERIFY(Pair::closed(&pair.client) && Pair::closed(pair.server));
        QVERIFY(pair.clientWatch.wasReset());
        QVERIFY(serverWatch.wasReset());
        QCOMPARE(pair.proxy->connectionCount(), 0);

        QCOMPARE(howItEnds(pair.proxy->port()), QString("reset"));
        QVERIFY(!pair.target.hasPendingConnections());

        // Passing through again, a new connection reaches the target.
        pair.proxy->setMode(FaultProxy::Mode::PassThrough);
        QTcpSocket again;
        again.connectToHost(QHostAddress::LocalHost, pair.proxy->port());
        QTRY_VERIFY(pair.target.hasPendingConnections());
    }

    void unreachableTargetResetsTheClient()
    {
        Pair pair;
        pair.target.close();
        QCOMPARE(howItEnds(pair.proxy->port()), QString("reset"));
    }

    // A client that does not read: the proxy holds at most its bound in each of its three
    // places and leaves the rest to TCP, and loses nothing once the client reads again.
    void holdsNoMoreThanItsBound()
    {
        constexpr qsizetype Bound = 64 * 1024;
        constexpr qsizetype Size = 64 * 1024 * 1024;
        Pair pair(Bound);
        QVERIFY(pair.connect());
        pair.clientReads = false;
        pair.client.setReadBufferSize(Bound);
        const QByteArray sent = pattern(Size);
        pair.server->write(sent);
        QTRY_VERIFY_WITH_TIMEOUT(
            pair.proxy->bufferedBytes() >= 2 * Bound && pair.server->bytesToWrite() > 0, 20000);
        QVERIFY2(pair.proxy->peakBufferedBytes() <= 3 * Bound,
                 qPrintable(QString::number(pair.proxy->peakBufferedBytes())));

        pair.clientReads = true;
        pair.toClient += pair.client.readAll();
        QTRY_VERIFY_WITH_TIMEOUT(pair.toClient.size() == Size, 20000);
        QVERIFY(pair.toClient == sent);
        QVERIFY(pair.proxy->peakBufferedBytes() <= 3 * Bound);
    }
};

QTEST_GUILESS_MAIN(TestFaultProxy)
#include "tst_faultproxy.moc"
