// The server over TCP on 127.0.0.1: in this process with shortened times, and as the program.

#include "server.h"
#include "serverlog.h"
#include "serveroptions.h"
#include "teststore.h"
#include "wireclient.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString ServerBin = QStringLiteral(QUILLORA_SERVER_BIN);
const QByteArray Greeting = "Welcome to Quillora Server [0.92]";
const QByteArray Password = "s3cret pass";

// Starts the server program; the port it reports listening on, or 0.
quint16 startProgram(QProcess& process, const QStringList& arguments)
{
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    process.start(ServerBin, arguments);
    QString output;
    while (!listening.match(output).hasMatch() && process.waitForReadyRead(10000))
        output += QString::fromUtf8(process.readAllStandardOutput());
    return listening.match(output).captured(1).toUShort();
}

// Whether a connection on the local port is in TIME_WAIT, the state that keeps a port
// from being listened on again without SO_REUSEADDR.
bool timeWaitOn(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QString local = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() > 3 && columns[1].endsWith(local.toLatin1()) && columns[3] == "06")
            return true;
    }
    return false;
}

// Runs the program to its end while this process's event loop goes on; whether it exited
// with the code and printed the text (logged if not).
bool ran(const QStringList& arguments, int code, const QString& text)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ServerBin, arguments);
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000);
    const QString output = QString::fromUtf8(process.readAll());
    if (process.exitCode() == code && output.contains(text))
        return true;
    qWarning("Exit code %d: %s", process.exitCode(), qPrintable(output));
    return false;
}

} // namespace

class TestServer final : public QObject {
    Q_OBJECT

    struct Fixture {
        QTemporaryDir dir;
        Database db;
        std::unique_ptr<Server> server;
    };
    std::unique_ptr<Fixture> m_f;
    ServerConfig m_config;

    QString store(const char* file) { return teststore::location(m_f->dir, QLatin1String(file)); }

    void start()
    {
        m_f->server = std::make_unique<Server>(m_f->db, m_config);
        QString error;
        QVERIFY2(m_f->server->start(&error), qPrintable(error));
    }
    std::unique_ptr<WireClient>
    logIn(WireClient::Reading reading = WireClient::Reading::AnswersPings)
    {
        const int before = m_f->server->authenticatedCount();
        auto client = std::make_unique<WireClient>(m_f->server->port(), reading);
        client->next(Greeting);
        client->send(Password);
        const bool in = QTest::qWaitFor([&] { return m_f->server->authenticatedCount() > before; });
        return in ? std::move(client) : nullptr;
    }

private slots:
    void initTestCase() { serverlog::setEnabled(false); }
    void cleanup() { m_f.reset(); }
    void init()
    {
        QUILLORA_SKIP_WITHOUT_STORE();
        m_f = std::make_unique<Fixture>();
        QVERIFY(m_f->db.open(store("s.sqlite")));
        QVERIFY(ContactStore(m_f->db).insert(
            Contact{0, "Lee, Ann", "555-1000", "555-3000", "ann@x", {}, {}}));
        m_config = ServerConfig();
        m_config.port = 0;
        m_config.password = Password;
        m_config.authTimeoutMs = 300;
    }

    void passwordGateAndPacedCalls()
    {
        start();
        // A wrong password, or a request in its place, ends the connection.
        for (const char* wrong : {"s3cret pas", "s3cret pass ", "STATS:LAST;10", ""}) {
            WireClient client(m_f->server->port());
            QCOMPARE(client.next(""), Greeting);
            if (*wrong)
                client.send(wrong); // else silent until the time to authenticate runs out
            QVERIFY2(QTest::qWaitFor([&] { return client.gone(); }), wrong);
            QCOMPARE(client.reads.size(), 1);
        }
        QCOMPARE(m_f->server->clientCount(), 0);
        auto a = logIn();
        auto b = logIn();
        QVERIFY(a && b);
        WireClient stranger(m_f->server->port());
        QCOMPARE(stranger.next(""), Greeting);

        // Two calls at once reach every authenticated client, and only those, as two reads.
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
    }

    void silentConnectionsAndClientsAreDropped()
    {
        m_config.pingIntervalMs = 50;
        m_config.silenceLimitMs = 200;
        m_config.authTimeoutMs = 60000;
        m_config.maxUnauthenticated = 2;
        start();
        // The connection owing the password longest gives way to a newcomer.
        WireClient oldest(m_f->server->port());
        WireClient newer(m_f->server->port());
        QCOMPARE(oldest.next("") + newer.next(""), Greeting + Greeting);
        auto answering = logIn();
        QVERIFY(QTest::qWaitFor([&] { return oldest.gone(); }));
        // An authenticated client that leaves the keep-alive probes unanswered is dropped.
        auto silent = logIn(WireClient::Reading::IgnoresPings);
        QVERIFY(answering && silent);
        QVERIFY(QTest::qWaitFor([&] { return silent->gone(); }));
        QVERIFY(!answering->gone() && !newer.gone());
        QCOMPARE(m_f->server->authenticatedCount(), 1);
    }

    void survivesOversizedAndGarbageInput()
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
        QByteArrayList kinds;
        for (const QByteArray& read : client->reads.mid(1))
            kinds << read.left(11);
        QCOMPARE(kinds.join(' '), "CNTAC:ERRO; CNTAC:ERRO; CNTAC:SAVE; STATS:LAST;");
        QCOMPARE(m_f->server->contacts().lookup("555-7777")->name.size(), 1000);
        QVERIFY(!client->gone());
    }

    // Clients refuse to store a password of 1 to 8 characters (counted as they count them,
    // not in bytes), so the server refuses to ask for one.
    void passwordMustBeLongerThanClientsRefuse_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("none") << "" << true;
        QTest::newRow("1") << "x" << false;
        QTest::newRow("8") << "12345678" << false;
        QTest::newRow("9") << "123456789" << true;
        QTest::newRow("8 in 16 bytes") << QString(8, QChar(0xE4)) << false;
    }
    void passwordMustBeLongerThanClientsRefuse()
    {
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        const ServerOptions options =
            parseServerOptions({"quillora-server", "--port", "0", "--password", password});
        QCOMPARE(options.mode, accepted ? ServerOptions::Mode::Serve : ServerOptions::Mode::Error);
        if (accepted)
            QCOMPARE(options.config.password, password);
        else
            QVERIFY2(options.errorText.contains(QStringLiteral("it has %1 characters, but Quillora "
                                                               "clients only accept passwords of "
                                                               "more than 8 characters")
                                                    .arg(password.size())),
                     qPrintable(options.errorText));
    }

    void pingIntervalOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("pingMs"); // 0: refused
        QTest::addColumn<int>("silenceMs");
        QTest::newRow("default") << QStringList() << 30000 << 90000;
        QTest::newRow("1") << QStringList{"--ping-interval", "1"} << 1000 << 3000;
        QTest::newRow("45") << QStringList{"--ping-interval=45"} << 45000 << 135000;
        QTest::newRow("a day") << QStringList{"--ping-interval", "86400"} << 86400000 << 259200000;
        QTest::newRow("0") << QStringList{"--ping-interval", "0"} << 0 << 0;
        QTest::newRow("negative") << QStringList{"--ping-interval=-3"} << 0 << 0;
        QTest::newRow("fraction") << QStringList{"--ping-interval", "1.5"} << 0 << 0;
        QTest::newRow("word") << QStringList{"--ping-interval", "often"} << 0 << 0;
        QTest::newRow("over a day") << QStringList{"--ping-interval", "86401"} << 0 << 0;
    }
    void pingIntervalOption()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, pingMs);
        QFETCH(int, silenceMs);
        const ServerOptions options =
            parseServerOptions(QStringList{"quillora-server"} + arguments);
        if (pingMs == 0) {
            QCOMPARE(options.mode, ServerOptions::Mode::Error);
            QVERIFY2(options.errorText.startsWith("--ping-interval: "),
                     qPrintable(options.errorText));
            return;
        }
        QCOMPARE(options.mode, ServerOptions::Mode::Serve);
        QCOMPARE(options.config.pingIntervalMs, pingMs);
        QCOMPARE(options.config.silenceLimitMs, silenceMs);
    }

    // With --ping-interval 1 a client gets a probe every second, and one that answers none
    // is dropped after three; counted, not timed.
    void programProbesAtItsPingInterval()
    {
        QProcess server;
        const quint16 port = startProgram(
            server, {"--port", "0", "--db", store("p.sqlite"), "--ping-interval", "1"});
        QVERIFY(port != 0);
        WireClient answering(port);
        WireClient silent(port, WireClient::Reading::IgnoresPings);
        QCOMPARE(answering.next("") + silent.next(""), Greeting + Greeting);
        const auto pings = [](const WireClient& client) {
            return std::count_if(client.reads.cbegin(), client.reads.cend(),
                                 [](const QByteArray& read) { return read.startsWith("PING_:"); });
        };
        QVERIFY(QTest::qWaitFor([&] { return silent.gone(); }, 30000));
        QVERIFY(pings(silent) >= 2);
        QVERIFY(QTest::qWaitFor([&] { return pings(answering) >= 5; }, 30000));
        QVERIFY(!answering.gone());
        server.terminate();
        QVERIFY(server.waitForFinished());
    }

    // Stopped while a client is connected, the server leaves that connection in TIME_WAIT
    // on its port; started again on the same port it listens at once, and a client that
    // comes back is served.
    void restartedProgramTakesItsPortAtOnce()
    {
        const QStringList arguments{"--db", store("r.sqlite"), "--demo"};
        QProcess server;
        const quint16 port = startProgram(server, QStringList{"--port", "0"} + arguments);
        QVERIFY(port != 0);
        {
            WireClient client(port);
            QCOMPARE(client.next(""), Greeting);
            server.terminate(); // the server closes first, so its side waits in TIME_WAIT
            QVERIFY(server.waitForFinished());
            QVERIFY(QTest::qWaitFor([&] { return client.gone(); }));
        }
        QVERIFY(timeWaitOn(port));
        QCOMPARE(startProgram(server, QStringList{"--port", QString::number(port)} + arguments),
                 port);
        WireClient again(port);
        QCOMPARE(again.next(""), Greeting);
        QVERIFY(again.send("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;60#09"));
        server.terminate();
        QVERIFY(server.waitForFinished());
    }

    // The program: command-line errors, its ring command, and its data after being killed.
    void programRingsAndKeepsItsDataWhenKilled()
    {
        const QString control =
            QStringLiteral("quillora-test-kill-%1").arg(QCoreApplication::applicationPid());
        QVERIFY(ran({"ring", "--control", control, "555-1234"}, 1, "no Quillora server"));
        QVERIFY(ran({"ring"}, 2, "--help"));
        QVERIFY(ran({"--port", "70000"}, 2, "--port"));
        QVERIFY(ran({"--password", "s3cret"}, 2, "more than 8 characters"));

        const QStringList arguments{"--port", "0",         "--db", store("p.sqlite"),
                                    "--demo", "--control", control};
        const QByteArray number = "+44 20 7946 0001";
        QProcess server;
        WireClient client(startProgram(server, arguments));
        QVERIFY(client.send("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;60#09"));
        QVERIFY(client.send("CNTAC:SAVE;NEW,Rita Ring," + number + ",,,,", "CNTAC:SAVE;").size() >
                11);
        QVERIFY(ran({"ring", "--control", control, number}, 0, "Rita Ring"));
        QVERIFY(client.next("CALL_:").endsWith("," + number + ",Rita Ring," + number + ",,,,"));
        server.kill(); // no chance to tidy up
        QVERIFY(server.waitForFinished());

        // Started again on the same file and the control socket the killed one left behind.
        WireClient again(startProgram(server, arguments));
        QVERIFY(again.send("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;61#09"));
        QVERIFY(again.send("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;1#03Rita Ring,"));
        QVERIFY(ran({"ring", "--control", control, "%1%3"}, 0,
                    "Call from %1%3, an unknown caller, announced to 1 client."));
        QVERIFY(again.next("CALL_:").endsWith(",%1%3,,,,,,"));
        server.terminate();
        QVERIFY(server.waitForFinished() && server.exitCode() == 0);
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
