// How the server is told its options and password: the command line, the configuration
// file and the password file as parsed, and the program started from them.

#include "serveroptions.h"
#include "wireclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QString ServerBin = QStringLiteral(QUILLORA_SERVER_BIN);
const QByteArray Password = "Quill pass 77";

// Writes the file with the mode; its path.
QString writeFile(const QString& path, const QByteArray& bytes, int mode = 0600)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    if (::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) != 0)
        qFatal("cannot chmod %s", qPrintable(path));
    return path;
}

// Runs the program until it listens (the port, else 0) or, with listening false, to its
// end; all it printed is added to output.
quint16 run(QProcess& process, const QStringList& arguments, QString* output, bool listening = true)
{
    static const QRegularExpression listeningOn(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ServerBin, arguments);
    const qsizetype from = output->size();
    (void)QTest::qWaitFor(
        [&] {
            *output += QString::fromUtf8(process.readAll());
            return process.state() == QProcess::NotRunning ||
                   (listening && listeningOn.match(*output, from).hasMatch());
        },
        15000);
    return listeningOn.match(*output, from).captured(1).toUShort();
}

ServerOptions parse(const QStringList& arguments, const QByteArray& variable = {})
{
    return parseServerOptions(QStringList{"quillora-server"} + arguments, variable);
}

} // namespace

class TestOptions final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void passwordFile_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file at all; "dir": a directory
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("outcome"); // the password, or the error with %1 the path
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0600") << Password + "\n" << 0600 << QString(Password) << true;
        QTest::newRow("0640, CRLF") << Password + "\r\n" << 0640 << QString(Password) << true;
        QTest::newRow("only the line end trimmed") << " " + Password + " \n"
                                                   << 0600 << QString(" " + Password + " ") << true;
        QTest::newRow("0644") << Password << 0644
                              << "the password file %1 can be read by other users (mode "
                                 "0644): chmod o-rwx %1"
                              << false;
        QTest::newRow("0604") << Password << 0604 << "%1 can be read by other users (mode 0604)"
                              << false;
        QTest::newRow("0602") << Password << 0602 << "%1 can be written by other users (mode 0602)"
                              << false;
        QTest::newRow("empty") << QByteArray("") << 0600 << "the password file %1 is empty."
                               << false;
        QTest::newRow("two lines") << Password + "\n\n"
                                   << 0600 << "%1 holds more than one line" << false;
        QTest::newRow("too big") << QByteArray(4097, 'x') << 0600 << "%1 is larger than 4096 bytes"
                                 << false;
        QTest::newRow("too short") << QByteArray("12345678\n") << 0600
                                   << "the password file %1: it has 8 characters, but Quillora "
                                      "clients only accept passwords of more than 8 characters."
                                   << false;
        QTest::newRow("missing") << QByteArray() << 0600
                                 << "%1 cannot be opened: No such file or directory." << false;
        QTest::newRow("directory")
            << QByteArray("dir") << 0700 << "%1 is not a regular file." << false;
    }
    void passwordFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, mode);
        QFETCH(QString, outcome);
        QFETCH(bool, accepted);
        const QString file = path(QStringLiteral("password-%1").arg(QTest::currentDataTag()));
        if (bytes == "dir")
            QVERIFY(QDir().mkdir(file));
        else if (!bytes.isNull())
            writeFile(file, bytes, mode);
        const ServerOptions options = parse({"--password-file", file});
        if (accepted) {
            QCOMPARE(options.mode, ServerOptions::Mode::Serve);
            QCOMPARE(options.config.password, outcome);
            QVERIFY(!options.passwordOnCommandLine);
            return;
        }
        QCOMPARE(options.mode, ServerOptions::Mode::Error);
        QVERIFY2(options.errorText.contains(outcome.arg(file)), qPrintable(options.errorText));
        QVERIFY(!options.suggestHelp);
        QVERIFY(bytes.size() < 8 || !options.errorText.contains(QLatin1String(bytes.left(8))));
    }

    // The password comes one way only; each way alone works.
    void passwordWays_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("outcome"); // the password, or the error
        QTest::addColumn<bool>("accepted");
        const QString file = "--password-file=" + path(QStringLiteral("good"));
        const QString config = path(QStringLiteral("with-password-file.conf"));
        QTest::newRow("variable") << QStringList() << Password << QString(Password) << true;
        QTest::newRow("config") << QStringList{"--config", config} << QByteArray()
                                << QString(Password) << true;
        QTest::newRow("variable too long")
            << QStringList() << QByteArray(4097, 'x')
            << "QUILLORA_SERVER_PASSWORD is longer than 4096 bytes." << false;
        QTest::newRow("option and file")
            << QStringList{"--password", Password, file} << QByteArray()
            << "the password is given by --password and --password-file; give it one way only."
            << false;
        QTest::newRow("config and variable")
            << QStringList{"--config", config} << QByteArray("another password")
            << "given by password-file in " + config + " and QUILLORA_SERVER_PASSWORD;" << false;
    }
    void passwordWays()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, variable);
        QFETCH(QString, outcome);
        QFETCH(bool, accepted);
        writeFile(path(QStringLiteral("good")), Password, 0640);
        writeFile(path(QStringLiteral("with-password-file.conf")),
                  "password-file = " + path(QStringLiteral("good")).toUtf8(), 0644);
        const ServerOptions options = parse(arguments, variable);
        if (accepted) {
            QCOMPARE(options.mode, ServerOptions::Mode::Serve);
            QCOMPARE(options.config.password, outcome);
            QCOMPARE(options.passwordOnCommandLine, arguments.contains("--password"));
        } else {
            QCOMPARE(options.mode, ServerOptions::Mode::Error);
            QVERIFY2(options.errorText.contains(outcome), qPrintable(options.errorText));
            QVERIFY(!options.errorText.contains(Password));
        }
    }

    // --db: a PostgreSQL URL without a password, or else a file; the database password
    // from a file or the environment, one way only and for PostgreSQL only.
    void databaseWays_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("variable"); // QUILLORA_DB_PASSWORD
        QTest::addColumn<QString>("outcome");     // the database password, or the error
        QTest::addColumn<bool>("accepted");
        const QString url = QStringLiteral("postgresql://quillora@127.0.0.1:5433/calls");
        const QString file = "--db-password-file=" + path(QStringLiteral("good"));
        const QString config = path(QStringLiteral("with-db.conf"));
        QTest::newRow("trust") << QStringList{"--db", url} << QByteArray() << QString() << true;
        QTest::newRow("file") << QStringList{"--db", url, file} << QByteArray() << QString(Password)
                              << true;
        QTest::newRow("variable") << QStringList{"--db", url} << QByteArray("pg pass") << "pg pass"
                                  << true;
        QTest::newRow("config") << QStringList{"--config", config} << QByteArray()
                                << QString(Password) << true;
        QTest::newRow("variable left alone for SQLite")
            << QStringList{"--db", "x.sqlite"} << QByteArray("pg pass") << QString() << true;
        QTest::newRow("file and variable")
            << QStringList{"--db", url, file} << QByteArray("pg pass")
            << "given by --db-password-file and QUILLORA_DB_PASSWORD" << false;
        QTest::newRow("file for SQLite") << QStringList{"--db", "x.sqlite", file} << QByteArray()
                                         << "--db names an SQLite file" << false;
        QTest::newRow("password in the URL")
            << QStringList{"--db", "postgresql://quillora:" + Password + "@db/calls"}
            << QByteArray() << "--db: a PostgreSQL database is given as" << false;
        QTest::newRow("empty password in the URL")
            << QStringList{"--db", "postgres://quillora:@db/calls"} << QByteArray()
            << "it must not hold a password" << false;
        QTest::newRow("no database") << QStringList{"--db", "postgresql://quillora@db:5432"}
                                     << QByteArray() << "this one names no database." << false;
        QTest::newRow("a query") << QStringList{"--db", "postgresql://quillora@db/calls?x=1"}
                                 << QByteArray() << "it takes no \"?\" or \"#\" part." << false;
    }
    void databaseWays()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, variable);
        QFETCH(QString, outcome);
        QFETCH(bool, accepted);
        writeFile(path(QStringLiteral("good")), Password, 0640);
        writeFile(path(QStringLiteral("with-db.conf")),
                  "db = postgresql://q@h/d\ndb-password-file = " +
                      path(QStringLiteral("good")).toUtf8(),
                  0644);
        const ServerOptions options =
            parseServerOptions(QStringList{"quillora-server"} + arguments, {}, variable);
        if (accepted) {
            QCOMPARE(options.mode, ServerOptions::Mode::Serve);
            QCOMPARE(options.databasePassword, outcome);
        } else {
            QCOMPARE(options.mode, ServerOptions::Mode::Error);
            QVERIFY2(options.errorText.contains(outcome), qPrintable(options.errorText));
            QVERIFY(!options.errorText.contains(Password));
        }
    }

    // Every option the file may set, with comments, blanks and CRLF line ends; the command
    // line wins over it, also for ring.
    void configFileSetsOptions()
    {
        const QString config = writeFile(path(QStringLiteral("full.conf")),
                                         "# Quillora server\r\n"
                                         "\r\n"
                                         "  listen\t=  0.0.0.0  \r\n"
                                         "; the port\r\n"
                                         "port=7001\r\n"
                                         "db = /var/lib/quillora/x y.sqlite\r\n"
                                         "ping-interval = 45\r\n"
                                         "control = /run/quillora/control\r\n"
                                         "simulate-calls = 20\r\n"
                                         "max-clients = 500\r\n"
                                         "demo = true\r\n",
                                         0644);
        ServerOptions options = parse({"--config", config});
        QCOMPARE(options.mode, ServerOptions::Mode::Serve);
        QCOMPARE(options.config.address, QHostAddress(QHostAddress::AnyIPv4));
        QCOMPARE(options.config.port, 7001);
        QCOMPARE(options.databasePath, "/var/lib/quillora/x y.sqlite");
        QCOMPARE(options.config.pingIntervalMs, 45000);
        QCOMPARE(options.config.controlName, "/run/quillora/control");
        QCOMPARE(options.simulateSeconds, 20);
        QCOMPARE(options.config.maxClients, 500);
        QVERIFY(options.demo);
        QVERIFY(options.config.password.isEmpty());

        options = parse({"--port", "7002", "--config", config, "--control=other", "--db", "a",
                         "--max-clients", "1"});
        QCOMPARE(options.config.port, 7002);
        QCOMPARE(options.config.maxClients, 1);
        QCOMPARE(options.config.controlName, "other");
        QCOMPARE(options.databasePath, "a");
        QCOMPARE(options.config.pingIntervalMs, 45000);

        options = parse({"ring", "--config", config, "555-1234"});
        QCOMPARE(options.mode, ServerOptions::Mode::Ring);
        QCOMPARE(options.config.controlName, "/run/quillora/control");
        QCOMPARE(options.ringNumber, "555-1234");

        writeFile(config, "demo = false\nport = 7003\n", 0644);
        options = parse({"--config", config});
        QVERIFY(!options.demo);
        QCOMPARE(options.config.port, 7003);
        QCOMPARE(options.config.maxClients, 2000);
    }

    void configFileErrors_data()
    {
        QTest::addColumn<QByteArray>("text"); // null: no file
        QTest::addColumn<QString>("error");   // after the file's path
        QTest::newRow("bad port") << QByteArray("port = 6996\n\nport = 70000\n")
                                  << ", line 3: port: \"70000\" is not a port from 0 to 65535.";
        QTest::newRow("bad demo") << QByteArray("demo = yes")
                                  << ", line 1: demo: \"yes\" is neither true nor false.";
        QTest::newRow("bad max-clients")
            << QByteArray("max-clients = 0")
            << ", line 1: max-clients: \"0\" is not a number of clients from 1 to 1000000.";
        QTest::newRow("no value") << QByteArray("# x\ndb =   \n") << ", line 2: db has no value.";
        QTest::newRow("unknown key") << QByteArray("prot = 1") << ", line 1: unknown key \"prot\"";
        QTest::newRow("password") << QByteArray("password = Quill pass 77")
                                  << ", line 1: the password does not belong in the "
                                     "configuration file; put it in a file of its own";
        QTest::newRow("no equals sign") << QByteArray("port = 1\nQuill pass 77\n")
                                        << ", line 2: it is not of the form key = value.";
        QTest::newRow("not UTF-8") << QByteArray("db = \xff") << ", it is not UTF-8 text.";
        QTest::newRow("too big") << QByteArray(64 * 1024 + 1, '#') << " is larger than 64 KiB.";
        QTest::newRow("missing") << QByteArray() << " does not exist.";
    }
    void configFileErrors()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        const QString config = path(QStringLiteral("broken.conf"));
        QFile::remove(config);
        if (!text.isNull())
            writeFile(config, text, 0644);
        for (const QString& command : {QString(), QStringLiteral("ring")}) {
            QStringList arguments{"--config", config, "--port", "7000"};
            if (!command.isEmpty())
                arguments << command << "555";
            const ServerOptions options = parse(arguments);
            QCOMPARE(options.mode, ServerOptions::Mode::Error);
            QVERIFY2(options.errorText.contains(config + error), qPrintable(options.errorText));
            QVERIFY(!options.errorText.contains(Password));
        }
        // A command-line value that is wrong is the command line's error.
        QCOMPARE(parse({"--port", "x"}).errorText, "--port: \"x\" is not a port from 0 to 65535.");
        QCOMPARE(parse({"--max-clients", "1000001"}).errorText,
                 "--max-clients: \"1000001\" is not a number of clients from 1 to 1000000.");
    }

    // The program with the password in a file that its configuration file names: a client
    // needs it, and it shows nowhere, neither in the process list nor in what the program
    // prints. The control socket at an absolute path is found by ring through the same
    // file, and taken over after a kill by a server that has the password from the
    // environment, which it clears.
    // The program raises its open-file limit to the hard limit, lets in as many clients as
    // that leaves room for beside 64 other files, and logs how many.
    void programFitsClientsToTheFileLimit_data()
    {
        QTest::addColumn<QString>("maxClients");
        QTest::addColumn<QString>("line");
        QTest::newRow("room") << "200"
                              << "Clients: at most 200 (open-file limit 300).";
        QTest::newRow("no room") << "500"
                                 << "Clients: at most 236 of the 500 asked for (open-file limit "
                                    "300).";
    }
    void programFitsClientsToTheFileLimit()
    {
        QFETCH(QString, maxClients);
        QFETCH(QString, line);
        QProcess server;
        server.setChildProcessModifier([] {
            const rlimit limit{100, 300};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
        QString output;
        QVERIFY2(run(server,
                     {"--port", "0", "--db", path("limit.sqlite"), "--max-clients", maxClients},
                     &output) != 0,
                 qPrintable(output));
        server.terminate();
        QVERIFY(server.waitForFinished());
        QVERIFY2(output.contains(line), qPrintable(output));
    }

    void programKeepsThePasswordOutOfSight()
    {
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("run")));
        const QString control = path(QStringLiteral("run/control"));
        const QString passwordFile = writeFile(path(QStringLiteral("pw")), Password + "\n", 0640);
        const QString config =
            writeFile(path(QStringLiteral("program.conf")),
                      QStringLiteral("port = 0\ndb = %1\npassword-file = %2\ncontrol = %3\n")
                          .arg(path(QStringLiteral("p.sqlite")), passwordFile, control)
                          .toUtf8(),
                      0644);
        QString output;
        const auto procFile = [](const QProcess& process, const char* name) {
            QFile file(QStringLiteral("/proc/%1/%2").arg(process.processId()).arg(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const auto logsIn = [](quint16 port) {
            WireClient client(port);
            client.send(Password);
            return client.send("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;");
        };
        const auto rings = [&](const QStringList& arguments) {
            QProcess ring;
            run(ring, QStringList{"ring"} + arguments + QStringList{"555-0100"}, &output, false);
            return ring.exitCode() == 0 && output.endsWith("announced to 0 clients.\n");
        };

        QProcess server;
        quint16 port = run(server, {"--config", config}, &output);
        QVERIFY2(port != 0, qPrintable(output));
        QVERIFY(procFile(server, "cmdline").contains(config.toUtf8()));
        QVERIFY(!procFile(server, "cmdline").contains(Password));
        {
            WireClient wrong(port);
            wrong.send("Quill pass 78");
            QVERIFY(QTest::qWaitFor([&] { return wrong.gone(); }));
        }
        QVERIFY(logsIn(port));
        QVERIFY2(rings({"--config", config}), qPrintable(output));
        server.kill();
        QVERIFY(server.waitForFinished());
        QVERIFY(QFileInfo::exists(control)); // left behind

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(PasswordVariable), QLatin1String(Password));
        server.setProcessEnvironment(environment);
        port =
            run(server, {"--port", "0", "--db", path("p.sqlite"), "--control", control}, &output);
        QVERIFY2(port != 0, qPrintable(output));
        QVERIFY(procFile(server, "environ").contains("PATH="));
        QVERIFY(!procFile(server, "environ").contains(Password));
        QVERIFY(logsIn(port));
        QVERIFY2(rings({"--control", control}), qPrintable(output));
        server.terminate();
        QVERIFY(server.waitForFinished());
        output += QString::fromUtf8(server.readAll());

        // Given on the command line, it works and is warned about, but not shown either.
        server.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        QVERIFY(run(server, {"--port", "0", "--db", path("p.sqlite"), "--password", Password},
                    &output) != 0);
        server.terminate();
        QVERIFY(server.waitForFinished());
        output += QString::fromUtf8(server.readAll());
        QVERIFY(output.contains("Warning: the password was given with --password, where every "
                                "local user can read it in the process list"));

        QProcess refused;
        writeFile(passwordFile, Password, 0644);
        run(refused, {"--config", config}, &output, false);
        QCOMPARE(refused.exitCode(), 2);
        QVERIFY2(output.endsWith(QStringLiteral("quillora-server: the password file %1 can be read "
                                                "by other users (mode 0644): chmod o-rwx %1\n")
                                     .arg(passwordFile)),
                 qPrintable(output));
        QVERIFY(!output.contains(Password));
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
