// The server over real TCP on 127.0.0.1: in this process with shortened times, and as the
// quillora-server program with its ring command.

#include "server.h"
#include "serverlog.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString ServerBin = QStringLiteral(QUILLORA_SERVER_BIN);
const QByteArray Greeting = "Welcome to Quillora Server [0.92]";

// A plain TCP client that records every read on its own, so a test sees exactly how the
// server's messages arrive.
class WireClient final : public QObject {
public:
    explicit WireClient(quint16 port, bool answerPings = true)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this, answerPings] {
            reads.append(m_socket.readAll());
            if (answerPings && reads.last().startsWith("PING_:"))
                m_socket.write("PONG_:" + reads.last().mid(6));
        });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { gone = true; });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    // Writes the bytes and gives the server a moment to read them on their own.
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        QTest::qWait(30);
    }
    // The next read after those already taken that begins with the prefix; empty if none.
    QByteArray next(const QByteArray& prefix)
    {
        (void)QTest::qWaitFor([&] {
            while (m_taken < reads.size() && !reads[m_taken].startsWith(prefix))
                ++m_taken;
            return m_taken < reads.size();
        });
        return m_taken < reads.size() ? reads[m_taken++] : QByteArray();
    }
    QByteArray ask(const QByteArray& request, const QByteArray& prefix)
    {
        send(request);
        return next(prefix);
    }

    QList<QByteArray> reads;
    bool gone = false;

private:
    QTcpSocket m_socket;
    qsizetype m_taken = 0;
};

// Starts the server program; the port it reports listening on, or 0.
quint16 startProgram(QProcess& process, const QStringList& arguments)
{
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    process.start(ServerBin, arguments);
    QByteArray output;
    QRegularExpressionMatch match;
    (void)QTest::qWaitFor(
        [&] {
            output += process.readAllStandardOutput();
            match = listening.match(QString::fromUtf8(output));
            return match.hasMatch() || process.state() == QProcess::NotRunning;
        },
        10000);
    return match.captured(1).toUShort();
}

// Runs the program to its end while this process's event loop goes on; exit code and output.
std::pair<int, QString> run(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ServerBin, arguments);
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000);
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

} // namespace

class TestServer final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { serverlog::setEnabled(false); }
    void init();
    void cleanup() { m_f.reset(); }
    void passwordGate();
    void keepAliveDropsSilentClients();
    void silentConnectionsGiveWay();
    void callsAreLookedUpLoggedAndPaced();
    void survivesOversizedAndGarbageInput();
    void commandLineErrors();
    void killedServerKeepsItsData();

private:
    void start()
    {
        m_f->server = std::make_unique<Server>(m_f->db, m_config);
        QString error;
        QVERIFY2(m_f->server->start(&error), qPrintable(error));
    }
    std::unique_ptr<WireClient> logIn(bool answerPings = true)
    {
        const int before = m_f->server->authenticatedCount();
        auto client = std::make_unique<WireClient>(m_f->server->port(), answerPings);
        client->next(Greeting);
        client->send("s3cret");
        const bool in = QTest::qWaitFor([&] { return m_f->server->authenticatedCount() > before; });
        return in ? std::move(client) : nullptr;
    }

    struct Fixture {
        QTemporaryDir dir;
        Database db;
        std::unique_ptr<Server> server;
    };
    std::unique_ptr<Fixture> m_f;
    ServerConfig m_config;
};

void TestServer::init()
{
    m_f = std::make_unique<Fixture>();
    QVERIFY(m_f->db.open(m_f->dir.filePath("s.sqlite")));
    QVERIFY(ContactStore(m_f->db).insert(
        Contact{0, "Lee, Ann", "555-1000", "555-3000", "ann@x", {}, {}}));
    m_config = ServerConfig();
    m_config.port = 0;
    m_config.password = "s3cret";
    m_config.authTimeoutMs = 300;
    m_config.pingIntervalMs = 60000;
}

void TestServer::passwordGate()
{
    start();
    // A wrong password, or a request in its place, ends the connection.
    for (const QByteArray& wrong :
         {QByteArray("s3cre"), QByteArray("s3cret "), QByteArray("STATS:LAST;10"), QByteArray()}) {
        WireClient client(m_f->server->port());
        QCOMPARE(client.next(""), Greeting);
        if (!wrong.isEmpty())
            client.send(wrong); // else silent until the time to authenticate runs out
        QVERIFY2(QTest::qWaitFor([&] { return client.gone; }), wrong.constData());
        QCOMPARE(client.reads.size(), 1);
    }
    QCOMPARE(m_f->server->clientCount(), 0);
    auto client = logIn();
    QVERIFY(client);
    QCOMPARE(client->ask("CNTAC:SEAR;NAME;ann", "CNTAC:"),
             QByteArray("CNTAC:SEAR;Lee; Ann,555-1000,555-3000,ann@x,,,1,1"));
}

void TestServer::keepAliveDropsSilentClients()
{
    m_config.pingIntervalMs = 50;
    m_config.silenceLimitMs = 200;
    start();
    auto answering = logIn();
    auto silent = logIn(false);
    QVERIFY(answering && silent);
    QVERIFY(QTest::qWaitFor([&] { return silent->gone; }));
    QVERIFY(!answering->gone);
    QCOMPARE(m_f->server->authenticatedCount(), 1);
}

void TestServer::silentConnectionsGiveWay()
{
    m_config.authTimeoutMs = 60000;
    m_config.maxUnauthenticated = 2;
    start();
    WireClient oldest(m_f->server->port());
    WireClient newer(m_f->server->port());
    QCOMPARE(oldest.next("") + newer.next(""), Greeting + Greeting);
    QVERIFY(logIn());
    QVERIFY(QTest::qWaitFor([&] { return oldest.gone; }));
    QVERIFY(!newer.gone);
}

void TestServer::callsAreLookedUpLoggedAndPaced()
{
    start();
    auto a = logIn();
    auto b = logIn();
    QVERIFY(a && b);
    WireClient stranger(m_f->server->port());
    QCOMPARE(stranger.next(""), Greeting);

    // Two calls at once reach every authenticated client as two separate reads.
    const QDateTime at(QDate(2024, 5, 1), QTime(14, 3, 59));
    QCOMPARE(m_f->server->announceCall("5553000", at).clients, 2);
    QCOMPARE(m_f->server->announceCall(" 555-4242 ", at).clients, 2);
    const QList<QByteArray> calls{
        "CALL_:2024-05-01 14:03:59,5553000,Lee; Ann,555-1000,555-3000,,,ann@x",
        "CALL_:2024-05-01 14:03:59,555-4242,,,,,,"};
    for (WireClient* client : {a.get(), b.get()}) {
        QVERIFY(QTest::qWaitFor([&] { return client->reads.size() >= 3; }));
        QCOMPARE(client->reads.mid(1), calls);
    }
    QCOMPARE(stranger.reads, QList<QByteArray>{Greeting});

    const QList<replies::CallRow> log = m_f->server->calls().newest(10, false);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0].name + '/' + log[1].name, "Unknown/Lee, Ann");
}

void TestServer::survivesOversizedAndGarbageInput()
{
    m_config.quietMs = 2000; // a held message is handed on by the next one, not by time
    start();
    auto client = logIn();
    QVERIFY(client);
    client->send("CNTAC:SEAR;ALLF;" + QByteArray(200 * 1024, 'x'));
    client->send(QByteArray("\0\xff\xfe garbage\r\n", 14));
    for (const char* odd : {"CNTAC:", "STATS:", "STATS:XXXX", "CNTAC:SAVE;", "PONG_:"})
        client->send(odd);
    // A long save in two reads is joined.
    const QByteArray save = "CNTAC:SAVE;NEW," + QByteArray(1000, 'n') + ",555-7777,,,,";
    client->send(save.left(600));
    client->send(save.mid(600));
    client->send("PONG_:1STATS:LAST;1"); // a keep-alive answer and a request in one read
    QVERIFY(QTest::qWaitFor([&] { return client->reads.size() >= 5; }));
    QList<QByteArray> kinds;
    for (const QByteArray& read : client->reads.mid(1))
        kinds << read.left(11);
    QCOMPARE(kinds,
             (QList<QByteArray>{"CNTAC:ERRO;", "CNTAC:ERRO;", "CNTAC:SAVE;", "STATS:LAST;"}));
    QCOMPARE(m_f->server->contacts().lookup("555-7777")->name.size(), 1000);
    QVERIFY(!client->gone);
}

void TestServer::commandLineErrors()
{
    const QList<std::tuple<QStringList, int, QString>> cases{
        {{"ring", "--control", "quillora-nobody-here", "555-1234"}, 1, "no Quillora server"},
        {{"ring"}, 2, "--help"},
        {{"--port", "70000"}, 2, "--port"}};
    for (const auto& [arguments, code, text] : cases) {
        const auto [exitCode, output] = run(arguments);
        QCOMPARE(exitCode, code);
        QVERIFY2(output.contains(text), qPrintable(output));
    }
}

void TestServer::killedServerKeepsItsData()
{
    const QString control =
        QStringLiteral("quillora-test-kill-%1").arg(QCoreApplication::applicationPid());
    const QStringList arguments{"--port", "0",         "--db", m_f->dir.filePath("p.sqlite"),
                                "--demo", "--control", control};
    const QByteArray number = "+44 20 7946 0001";
    {
        QProcess server;
        WireClient client(startProgram(server, arguments));
        QCOMPARE(client.next(""), Greeting);
        QVERIFY(client.ask("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;60#09"));
        QVERIFY(client.ask("CNTAC:SAVE;NEW,Rita Ring," + number + ",,,,", "CNTAC:SAVE;").size() >
                11);
        const auto [code, output] = run({"ring", "--control", control, number});
        QCOMPARE(code, 0);
        QVERIFY2(output.contains("Rita Ring"), qPrintable(output));
        QVERIFY(client.next("CALL_:").endsWith("," + number + ",Rita Ring," + number + ",,,,"));
        server.kill(); // no chance to tidy up
        QVERIFY(server.waitForFinished());
    }
    // Started again on the same file and the control socket the killed one left behind.
    QProcess server;
    WireClient client(startProgram(server, arguments));
    QCOMPARE(client.next(""), Greeting);
    QVERIFY(client.ask("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;61#09"));
    QVERIFY(client.ask("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;1#03Rita Ring,"));
    const auto [code, output] = run({"ring", "--control", control, "%1%3"});
    QCOMPARE(code, 0);
    QVERIFY2(output.contains("Call from %1%3, an unknown caller, announced to 1 client."),
             qPrintable(output));
    QVERIFY(client.next("CALL_:").endsWith(",%1%3,,,,,,"));
    server.terminate();
    QVERIFY(server.waitForFinished() && server.exitCode() == 0);
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
