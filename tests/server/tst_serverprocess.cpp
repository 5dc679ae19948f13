// The quillora-server program itself: command line, the ring command, demo data, and a
// database that outlives a killed server.

#include "wireclient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString ServerBin = QStringLiteral(QUILLORA_SERVER_BIN);

// A running server process and the port it reported.
struct RunningServer {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QByteArray output;
    quint16 port = 0;

    bool start(const QStringList& arguments)
    {
        process->start(ServerBin, arguments);
        static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
        const bool ok = QTest::qWaitFor(
            [this] {
                output += process->readAllStandardOutput();
                const auto match = listening.match(QString::fromUtf8(output));
                if (match.hasMatch())
                    port = static_cast<quint16>(match.captured(1).toUInt());
                return port != 0 || process->state() == QProcess::NotRunning;
            },
            10000);
        return ok && port != 0;
    }

    void kill()
    {
        process->kill(); // SIGKILL: no chance to tidy up
        process->waitForFinished(5000);
    }

    ~RunningServer()
    {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000))
                kill();
        }
    }
};

// Runs the ring command while this process's event loop keeps going.
struct RingResult {
    int exitCode = -1;
    QString out;
    QString err;
};

RingResult ring(const QStringList& arguments)
{
    QProcess process;
    process.start(ServerBin, QStringList{QStringLiteral("ring")} + arguments);
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestServerProcess final : public QObject {
    Q_OBJECT
private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { m_dir.reset(); }
    void commandLine();
    void ringWithoutServer();
    void ringAnnouncesToClients();
    void demoDataAnswersStatistics();
    void killedServerKeepsItsData();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("server.sqlite")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestServerProcess::commandLine()
{
    QProcess help;
    help.start(ServerBin, {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const char* option : {"--listen", "--port", "--db", "--password", "--demo",
                               "--simulate-calls", "--control", "ring"})
        QVERIFY2(text.contains(QLatin1String(option)), option);

    for (const QStringList& bad :
         {QStringList{QStringLiteral("--port"), QStringLiteral("70000")},
          QStringList{QStringLiteral("--listen"), QStringLiteral("not-an-address")},
          QStringList{QStringLiteral("--simulate-calls"), QStringLiteral("0")},
          QStringList{QStringLiteral("dance")}, QStringList{QStringLiteral("ring")}}) {
        QProcess process;
        process.start(ServerBin, bad);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(!process.readAllStandardError().isEmpty());
    }
}

void TestServerProcess::ringWithoutServer()
{
    const RingResult result =
        ring({QStringLiteral("--control"), QStringLiteral("quillora-nobody-here"),
              QStringLiteral("555-1234")});
    QVERIFY(result.exitCode != 0);
    QVERIFY2(result.err.contains(QLatin1String("no Quillora server is running")),
             qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
}

void TestServerProcess::ringAnnouncesToClients()
{
    RunningServer server;
    QVERIFY(server.start({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                          dbPath(), QStringLiteral("--password"), QStringLiteral("pw")}));
    WireClient client(server.port);
    QVERIFY(client.logIn("pw"));
    client.send("CNTAC:SAVE;NEW,Rita Ring,555-2020,,,,");
    QVERIFY(!client.waitFor("CNTAC:SAVE;").isEmpty());

    const QString port = QString::number(server.port);
    RingResult result = ring({QStringLiteral("--port"), port, QStringLiteral("555 2020")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(QLatin1String("Rita Ring")), qPrintable(result.out));
    QVERIFY(result.out.contains(QLatin1String("1 client")));
    QVERIFY(client.waitFor("CALL_:").endsWith(",555 2020,Rita Ring,555-2020,,,,"));

    result = ring({QStringLiteral("--port"), port, QStringLiteral("555-0000")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.contains(QLatin1String("unknown")));
    QVERIFY(client.waitFor("CALL_:").endsWith(",555-0000,,,,,,"));

    result = ring({QStringLiteral("--port"), port, QStringLiteral("   ")});
    QVERIFY(result.exitCode != 0);
}

void TestServerProcess::demoDataAnswersStatistics()
{
    RunningServer server;
    QVERIFY(server.start({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                          dbPath(), QStringLiteral("--demo")}));
    WireClient client(server.port);
    QVERIFY(client.logIn());
    const QByteArray contacts = client.ask("STATS:CNTS;00", "STATS:");
    QVERIFY(contacts.startsWith("STATS:CNTS;60#09"));
    QCOMPARE(contacts.mid(contacts.indexOf('#') + 3).split(',').size(), 60 * 9);
    QVERIFY(contacts.count('@') > 30);

    const QByteArray unknown = client.ask("STATS:UNKN;20", "STATS:");
    QVERIFY(unknown.startsWith("STATS:UNKN;20#03Unknown,"));
    const QByteArray top = client.ask("STATS:TOPS;5", "STATS:");
    QVERIFY(top.startsWith("STATS:TOPS;5#09"));
    const QByteArray search = client.ask("CNTAC:SEAR;ALLF;example", "CNTAC:");
    QVERIFY(search.startsWith("CNTAC:SEAR;"));
    QVERIFY(search.split(',').size() > 7 + 30);
}

void TestServerProcess::killedServerKeepsItsData()
{
    const QStringList arguments{
        QStringLiteral("--port"),
        QStringLiteral("0"),
        QStringLiteral("--db"),
        dbPath(),
        QStringLiteral("--control"),
        QStringLiteral("quillora-test-kill-%1").arg(QCoreApplication::applicationPid())};
    {
        RunningServer server;
        QVERIFY(server.start(arguments));
        WireClient client(server.port);
        QVERIFY(client.logIn());
        for (int i = 0; i < 20; ++i) {
            client.send(QStringLiteral("CNTAC:SAVE;NEW,Kept %1,555-6%2,,,,")
                            .arg(i)
                            .arg(i, 3, 10, QLatin1Char('0'))
                            .toUtf8());
            QVERIFY(!client.waitFor("CNTAC:SAVE;").isEmpty());
        }
        QCOMPARE(ring({QStringLiteral("--control"), arguments.last(), QStringLiteral("555-6007")})
                     .exitCode,
                 0);
        server.kill();
    }
    // Started again on the same file (and the control socket the killed one left).
    RunningServer again;
    QVERIFY(again.start(arguments));
    WireClient client(again.port);
    QVERIFY(client.logIn());
    const QByteArray all = client.ask("CNTAC:SEAR;NAME;kept", "CNTAC:");
    QCOMPARE(all.split(',').size(), 7 + 20);
    const QByteArray last = client.ask("STATS:LAST;1", "STATS:");
    QVERIFY2(last.startsWith("STATS:LAST;1#03Kept 7,") && last.endsWith(",555-6007"),
             last.constData());
    QCOMPARE(
        ring({QStringLiteral("--control"), arguments.last(), QStringLiteral("555-6001")}).exitCode,
        0);
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
