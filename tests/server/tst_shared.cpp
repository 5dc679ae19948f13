// Two server programs on one PostgreSQL database, and how the program takes the
// database's password.

#include "postgrescluster.h"
#include "wireclient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString ServerBin = QStringLiteral(QUILLORA_SERVER_BIN);
const QByteArray DbPassword = "pg-s3cret-Quill";

// The server program and everything it printed.
struct Program {
    QProcess process;
    QString output;

    // Starts it and waits until it listens; the port, or 0 (with the output logged).
    quint16 start(const QStringList& arguments, const QProcessEnvironment& environment)
    {
        launch(arguments, environment);
        return listening();
    }
    void launch(const QStringList& arguments, const QProcessEnvironment& environment)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setProcessEnvironment(environment);
        process.start(ServerBin, arguments);
    }
    quint16 listening()
    {
        static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
        while (!listening.match(output).hasMatch() && process.waitForReadyRead(15000))
            output += QString::fromUtf8(process.readAll());
        const quint16 port = listening.match(output).captured(1).toUShort();
        if (port == 0)
            qWarning("%s", qPrintable(output));
        return port;
    }
    // Runs it to its end; its exit code.
    int run(const QStringList& arguments, const QProcessEnvironment& environment)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setProcessEnvironment(environment);
        process.start(ServerBin, arguments);
        process.waitForFinished(30000);
        output += QString::fromUtf8(process.readAll());
        return process.exitCode();
    }
    QByteArray proc(const char* file) const
    {
        QFile f(QStringLiteral("/proc/%1/%2").arg(process.processId()).arg(QLatin1String(file)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished();
        }
    }
};

int calls(const WireClient& client)
{
    return int(std::count_if(client.reads.cbegin(), client.reads.cend(),
                             [](const QByteArray& read) { return read.startsWith("CALL_:"); }));
}

} // namespace

class TestShared final : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresCluster> m_cluster;
    QTemporaryDir m_dir;
    QString m_url;

    QProcessEnvironment withDbPassword() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUILLORA_DB_PASSWORD"), QString::fromLatin1(DbPassword));
        return environment;
    }
    QString passwordFile(const QByteArray& password)
    {
        const QString path = m_dir.filePath(QStringLiteral("db-password"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(password + '\n');
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

private slots:
    void initTestCase()
    {
        const QString missing = PostgresCluster::unavailable();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        m_cluster = std::make_unique<PostgresCluster>();
        QString error;
        QVERIFY2(m_cluster->start(&error, DbPassword), qPrintable(error));
        QVERIFY2(m_cluster->createDatabase(QStringLiteral("shared"), &error), qPrintable(error));
        m_url = m_cluster->url(QStringLiteral("shared"));
    }
    void cleanupTestCase() { m_cluster.reset(); }

    // A contact saved through A is found through B; a call rung on A reaches the clients
    // of both servers, each once, with the caller B looks up itself.
    void twoServersShareContactsAndCalls()
    {
        const QString control =
            QStringLiteral("quillora-test-shared-%1").arg(QCoreApplication::applicationPid());
        Program a;
        Program b;
        const quint16 portA =
            a.start({"--port", "0", "--db", m_url, "--control", control}, withDbPassword());
        const quint16 portB =
            b.start({"--port", "0", "--db", m_url, "--db-password-file", passwordFile(DbPassword)},
                    QProcessEnvironment::systemEnvironment());
        QVERIFY(portA && portB);
        WireClient clientA(portA);
        WireClient clientB(portB);
        QVERIFY(!clientA.next("Welcome").isEmpty() && !clientB.next("Welcome").isEmpty());

        // B has searched (and so loaded its index) before A saves.
        QCOMPARE(clientB.send("CNTAC:SEAR;NAME;sam", "CNTAC:"), "CNTAC:SEAR;None");
        QVERIFY(clientA.send("CNTAC:SAVE;NEW,Shared Sam,555-8001,,,,", "CNTAC:")
                    .startsWith("CNTAC:SAVE;"));
        QVERIFY(QTest::qWaitFor([&] {
            return clientB.send("CNTAC:SEAR;NAME;sam", "CNTAC:") ==
                   "CNTAC:SEAR;Shared Sam,555-8001,,,,,1,1";
        }));

        Program ring;
        QCOMPARE(ring.run({"ring", "--control", control, "555 8001"},
                          QProcessEnvironment::systemEnvironment()),
                 0);
        const QByteArray call = ",555 8001,Shared Sam,555-8001,,,,";
        QVERIFY(clientA.next("CALL_:").endsWith(call));
        QVERIFY(clientB.next("CALL_:").endsWith(call));
        // Logged once, by A; seen in B's call log too. A round trip to each server after
        // the call: no second copy of it came.
        QVERIFY(clientB.send("STATS:LAST;5", "STATS:").startsWith("STATS:LAST;1#03Shared Sam,"));
        QVERIFY(clientA.send("STATS:LAST;5", "STATS:").startsWith("STATS:LAST;1#03Shared Sam,"));
        QCOMPARE(calls(clientA), 1);
        QCOMPARE(calls(clientB), 1);
        for (Program* p : {&a, &b})
            p->output += QString::fromUtf8(p->process.readAll());
        QVERIFY(
            b.output.contains("Call from 555 8001, Shared Sam (contact 1), announced to 1 client "
                              "(rung on another server)."));

        // The password is in neither command line, environment nor output.
        for (const Program* p : {&a, &b}) {
            QVERIFY(!p->proc("cmdline").contains(DbPassword));
            QVERIFY(!p->proc("environ").contains(DbPassword));
            QVERIFY(!p->output.contains(QString::fromLatin1(DbPassword)));
        }
    }

    // Servers started together on an empty database create its tables once between them.
    void serversStartingTogetherCreateTheTablesOnce()
    {
        QString error;
        QVERIFY2(m_cluster->createDatabase(QStringLiteral("together"), &error), qPrintable(error));
        std::vector<std::unique_ptr<Program>> programs;
        for (int i = 0; i < 8; ++i) {
            programs.push_back(std::make_unique<Program>());
            programs.back()->launch(
                {"--port", "0", "--db", m_cluster->url(QStringLiteral("together"))},
                withDbPassword());
        }
        for (const auto& program : programs)
            QVERIFY(program->listening() != 0);
    }

    void passwordsAreRefusedInTheUrlAndNeverShown()
    {
        QString url = m_url;
        url.replace(QLatin1String("quillora@"), QLatin1String("quillora:") + DbPassword + '@');
        Program inUrl;
        QCOMPARE(inUrl.run({"--port", "0", "--db", url}, QProcessEnvironment::systemEnvironment()),
                 2);
        QVERIFY2(inUrl.output.contains("must not hold a password"), qPrintable(inUrl.output));
        QVERIFY(!inUrl.output.contains(QString::fromLatin1(DbPassword)));

        Program wrong;
        QCOMPARE(wrong.run({"--port", "0", "--db", m_url, "--db-password-file",
                            passwordFile("wrong-" + DbPassword)},
                           QProcessEnvironment::systemEnvironment()),
                 1);
        QVERIFY2(wrong.output.contains("password authentication failed"), qPrintable(wrong.output));
        QVERIFY(!wrong.output.contains(QString::fromLatin1(DbPassword)));
    }

    // A server outlives a restart of its database: meanwhile its clients still hear of the
    // calls rung on it; afterwards, not restarted itself, it stores calls again and hears
    // another server's. Last, since it stops the cluster.
    void aServerReconnectsWhenTheDatabaseComesBack()
    {
        QString error;
        QVERIFY2(m_cluster->createDatabase(QStringLiteral("restarted"), &error), qPrintable(error));
        const QString url = m_cluster->url(QStringLiteral("restarted"));
        const QString control =
            QStringLiteral("quillora-test-restart-%1").arg(QCoreApplication::applicationPid());
        const auto ring = [](const QString& on, const QString& number) {
            Program ringer;
            return ringer.run({"ring", "--control", on, number},
                              QProcessEnvironment::systemEnvironment());
        };
        Program a;
        const quint16 portA =
            a.start({"--port", "0", "--db", url, "--control", control}, withDbPassword());
        QVERIFY(portA);
        WireClient clientA(portA);
        QVERIFY(!clientA.next("Welcome").isEmpty());

        QVERIFY2(m_cluster->stopNow(&error), qPrintable(error));
        QCOMPARE(ring(control, "555 9001"), 0);
        QVERIFY(clientA.next("CALL_:").contains(",555 9001,"));
        QCOMPARE(ring(control, "555 9002"), 0);
        QVERIFY(clientA.next("CALL_:").contains(",555 9002,"));
        QVERIFY(clientA.send("STATS:LAST;5", "STATS:").startsWith("STATS:"));
        QVERIFY2(m_cluster->resume(&error), qPrintable(error));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         a.output += QString::fromUtf8(a.process.readAll());
                         return a.output.contains("Database back.");
                     },
                     60000),
                 qPrintable(a.output));
        QCOMPARE(a.output.count("Lost the database: "), 1);
        QCOMPARE(a.output.count("Could not log the call"), 1);

        QCOMPARE(ring(control, "555 9003"), 0);
        QVERIFY(clientA.next("CALL_:").contains(",555 9003,"));
        const QString controlB = control + QStringLiteral("-b");
        Program b;
        const quint16 portB =
            b.start({"--port", "0", "--db", url, "--control", controlB}, withDbPassword());
        QVERIFY(portB);
        WireClient clientB(portB);
        QVERIFY(!clientB.next("Welcome").isEmpty());
        const QByteArray last = clientB.send("STATS:LAST;5", "STATS:");
        QVERIFY2(last.startsWith("STATS:LAST;1#") && last.contains("555 9003"), last.constData());

        // Rung on B, heard by A through the LISTEN it took up again.
        QCOMPARE(ring(controlB, "555 9004"), 0);
        QVERIFY(clientA.next("CALL_:").contains(",555 9004,"));
        QVERIFY(clientA.send("STATS:LAST;5", "STATS:").startsWith("STATS:LAST;2#"));
    }
};

QTEST_GUILESS_MAIN(TestShared)
#include "tst_shared.moc"
