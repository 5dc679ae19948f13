// The server's options and passwords as parsed from the command line, the environment, the
// configuration and password files; and the program fitting its clients to its open-file limit.

#include "serveroptions.h"
#include "storelocation.h"
#include "testkit.h"
#include "tlsidentity.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QByteArray Password = "Quill pass 77";

QString sources(const ServerOptions& o)
{
    QString text = " sources=";
    for (const SourceSpec& s : o.config.sources)
        text += QString("%1:%2%3:%4%5%6 ")
                    .arg(sourcespec::key(s.kind), s.device, s.host, QString::number(s.port),
                         s.tls ? ":tls:" : ":", s.user + '/' + s.secret);
    return text + "site=" + o.config.country + '/' + o.config.areaCode +
           " check=" + QString::number(o.checkSources);
}

// What the options come to, on one line that the rows look into (the database as read).
QString describe(const ServerOptions& o)
{
    if (o.mode == ServerOptions::Mode::Error)
        return "error: " + o.errorText;
    StoreLocation db;
    QString error;
    if (!StoreLocation::parse(o.databasePath, &db, &error))
        return "taken, though: " + error;
    const ServerConfig& c = o.config;
    const auto n = [](qint64 i) { return QString::number(i); };
    return QString(o.mode == ServerOptions::Mode::Ring ? "ring" : "serve") +
           " password=" + c.password + " warned=" + n(o.passwordOnCommandLine) +
           " db=" + db.display() + " dbpassword=" + o.databasePassword +
           " listen=" + c.address.toString() + ':' + n(c.port) + " ping=" + n(c.pingIntervalMs) +
           '/' + n(c.silenceLimitMs) + " clients=" + n(c.maxClients) + " control=" + c.controlName +
           " simulate=" + n(o.simulateSeconds) + " demo=" + n(o.demo) + " ring=" + o.ringNumber +
           " tls=" + n(c.tls()) + ':' + n(c.tlsPort) + " plain=" + n(int(c.plain)) +
           " contacts=" + n(c.maxContacts) + '/' + n(c.maxSavesPerMinute) + sources(o);
}

} // namespace

class TestOptions final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString& name, const QByteArray& bytes, int mode = 0644)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                             file.write(bytes) == bytes.size() && file.flush();
        if (!written || ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) != 0)
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        const QByteArray good = write("good", Password + "\n", 0640).toUtf8();
        write("pw.conf", "password-file = " + good);
        write("db.conf", "db = postgresql://q@h/d\ndb-password-file = " + good);
        write("full.conf",
              "# Quillora server\r\n\r\n  listen\t=  0.0.0.0  \r\n; the port\r\n"
              "port=7001\r\ndb = /var/lib/quillora/x y.sqlite\r\nping-interval = 45\r\n"
              "control = /run/quillora/control\r\nsimulate-calls = 20\r\n"
              "max-clients = 500\r\ndemo = true\r\nallow-no-password = true\r\n");
        QString error;
        for (const QString name : {"a", "b"})
            QVERIFY2(tlsidentity::create(m_dir.filePath(name + ".crt"),
                                         m_dir.filePath(name + ".key"), "quillora.test", &error),
                     qPrintable(error));
        QVERIFY(
            !tlsidentity::create(m_dir.filePath("a.crt"), m_dir.filePath("c.key"), "x", &error));
        QVERIFY2(error.contains("a.crt exists already"), qPrintable(error));
        write("sources.conf", "modem = /dev/ttyACM0\nfritzbox = fritz.box\nami = amis://[::1]\n"
                              "ami-user = q\ncountry = de\narea-code = 30\nami-secret-file = " +
                                  good);
        write("tls.conf", "tls-cert = " + m_dir.filePath("a.crt").toUtf8() +
                              "\ntls-key = " + m_dir.filePath("a.key").toUtf8() + "\n");
    }

    // "~" in the arguments and the outcome stands for the folder, "~f" for the row's file (of
    // `bytes` with `mode`; none for null bytes); each part of the outcome ("|") must show.
    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArrayList>("variables"); // QUILLORA_SERVER_PASSWORD, _DB_PASSWORD
        const auto row = [](const char* name, const QStringList& arguments, const QString& outcome,
                            const QByteArray& bytes = {}, int mode = 0600,
                            const QByteArrayList& variables = {}) {
            QTest::newRow(name) << arguments << outcome << bytes << mode << variables;
        };
        const QStringList file{"--password-file", "~f"};
        row("file, 0640, CRLF", file, "password=" + Password + " ", Password + "\r\n", 0640);
        row("file, spaces kept", file, "password= Quill pass 77  warned=0", " " + Password + " \n");
        row("file, 0604", file,
            "error: the password file ~f can be read by other users (mode 0604): chmod o-rwx ~f",
            Password, 0604);
        row("file, 0602", file, "~f can be written by other users (mode 0602)", Password, 0602);
        row("file, empty", file, "error: the password file ~f is empty.", "");
        row("file, two lines", file, "~f holds more than one line", Password + "\n\n");
        row("file, 8 characters", file, "~f: it has 8 characters, but Quillora", "12345678\n");
        row("file, missing", file, "~f cannot be opened: No such file or directory.");
        row("option", {"--password", "123456789"}, "password=123456789 warned=1");
        row("option, 8 in 16 bytes", {"--password", QString(8, QChar(0xE4))}, "it has 8 char");
        row("option and file", {"--password", Password, "--password-file=~good"},
            "given by --password and --password-file; give it one way only.");
        row("config and variable", {"--config", "~pw.conf"},
            "given by password-file in ~pw.conf and QUILLORA_SERVER_PASSWORD;", {}, 0, {"other"});

        const QString url = "postgresql://quillora@127.0.0.1:5433/calls";
        row("db, trusted", {"--db", url}, "db=" + url + "?sslmode=prefer dbpassword= listen");
        row("db, file", {"--db", url, "--db-password-file=~good"}, "dbpassword=Quill pass 77 ");
        row("db, variable", {"--db", url}, "dbpassword=pg pass listen", {}, 0, {{}, "pg pass"});
        row("db, config", {"--config", "~db.conf"},
            "db=postgresql://q@h:5432/d?sslmode=verify-full dbpassword=Quill pass 77 ");
        row("db, SQLite", {"--db", "x.sqlite"}, "=x.sqlite dbpassword= listen", {}, 0, {{}, "pg"});
        row("db, password in the URL", {"--db", "postgresql://quillora:" + Password + "@db/calls"},
            "error: --db: a PostgreSQL database is given as");
        // The link is checked unless it stays here; only sslmode and sslrootcert, each once.
        const QString pg = "postgresql://q@", why = "error: --db: a PostgreSQL database is given";
        row("db, remote", {"--db", pg + "10.1.2.3/d"}, pg + "10.1.2.3:5432/d?sslmode=verify-full ");
        row("db, socket", {"--db", pg + "%2Frun%2Fpg:6/d?sslrootcert=/my%20ca"},
            pg + "%2Frun%2Fpg:6/d?sslmode=prefer&sslrootcert=/my ca ");
        row("db, sslmode", {"--db", pg + "h/d?sslmode=verify"},
            why + "|sslmode \"verify\" is none of disable, allow, prefer, require, verify-ca,");
        row("db, key", {"--db", pg + "h/d?password=" + QUrl::toPercentEncoding(Password)},
            why + "|after \"?\" it takes sslmode and sslrootcert, not \"password\".");
        row("db, twice", {"--db", pg + "h/d?sslmode=disable&sslmode=disable"}, why + "|twice.");
        row("db, \";\"", {"--db", pg + "h/d?sslrootcert=/a;b"}, why + "|a file name without \";\"");

        // Every key, with comments, blanks and CRLF; the command line wins, also for ring.
        row("config", {"--config", "~full.conf"},
            "serve password= warned=0 db=/var/lib/quillora/x y.sqlite dbpassword= "
            "listen=0.0.0.0:7001 ping=45000/135000 clients=500 control=/run/quillora/control "
            "simulate=20 demo=1 ring=");
        row("config, command line wins",
            {"--port", "7002", "--config", "~full.conf", "--control=other", "--db", "a",
             "--max-clients", "1"},
            "db=a dbpassword= listen=0.0.0.0:7002 ping=45000/135000 clients=1 control=other ");
        row("config, ring", {"ring", "--config", "~full.conf", "555-1234"},
            "ring |control=/run/quillora/control |ring=555-1234");
        row("config, false", {"--config", "~f"}, "listen=127.0.0.1:7003|demo=0",
            "demo = false\nport = 7003\n");
        const QStringList config{"--config", "~f", "--port", "7000"};
        row("config, bad port", config, "error: ~f, line 3: port: \"70000\" is not a port from 0",
            "port = 6996\n\nport = 70000\n");
        row("config, unknown key", config, "~f, line 1: unknown key \"prot\"", "prot = 1");
        row("config, password", config, "~f, line 1: the password does not belong in the",
            "password = " + Password);
        row("config, missing", config, "~f does not exist.");

        // Without a password only this machine gets in, unless that is asked for.
        row("network, no password", {"--listen", "::"},
            "error: listening on :: without a password lets anyone on the network in.");
        row("network, allowed", {"--listen", "10.1.2.3", "--allow-no-password"}, "listen=10.1.2.3");
        row("network, password", {"--listen", "::", "--password", "123456789"}, "listen=::");

        // TLS: both files, the key private and the certificate's; plain then for this machine.
        const QStringList tls{"--config", "~tls.conf"};
        row("tls", tls, "tls=1:6997 plain=1 contacts=100000/120");
        row("tls, plain on", tls + QStringList{"--plain", "on", "--tls-port", "7443"},
            "tls=1:7443 plain=0");
        row("tls, plain off", tls + QStringList{"--plain=off"}, "plain=2");
        row("no tls", {"--max-contacts", "5", "--max-saves-per-minute", "7"},
            "tls=0:6997 plain=0 contacts=5/7");
        row("plain off without tls", {"--plain", "off"}, "error: --plain off leaves no port open");
        row("plain, unknown", {"--plain", "lan"}, "error: --plain: \"lan\" is none of on,");
        row("tls, key missing", {"--tls-cert", "~a.crt"}, "error: TLS needs both");
        row("tls, other key", {"--tls-cert", "~a.crt", "--tls-key", "~b.key"},
            "error: the key in ~b.key is not the key of the certificate in ~a.crt.");
        const QStringList key{"--tls-cert", "~a.crt", "--tls-key", "~f"};
        row("tls, key readable", key, "error: the key file ~f can be read by other", "key", 0644);
        row("tls, not a key", key, "error: the key file ~f holds no private key", "not a key");
        row("tls, not a certificate", {"--tls-cert", "~a.key", "--tls-key", "~a.key"},
            "error: the certificate file ~a.key holds no PEM certificate.");
        row("tls-init, no files", {"tls-init"}, "error: tls-init: give the files to make");

        // Call sources, each key any number of times in the file and on the command line.
        row("sources",
            {"--config", "~sources.conf", "--fritzbox", "10.0.0.1:2000", "--check-sources"},
            "sources=modem:/dev/ttyACM0:0:/ fritzbox:fritz.box:1012:/ fritzbox:10.0.0.1:2000:/ "
            "ami:::1:5039:tls:q/" +
                Password + " site=DE/30 check=1");
        row("ami on port 5038", {"--ami", "ami://pbx", "--ami-user=u", "--ami-secret-file=~good"},
            "ami:pbx:5038:u/");
        const QString host = "\" is not HOST or HOST:PORT";
        for (const QStringList& wrong :
             {QStringList{"--modem", "ttyACM0", "error: --modem: \"ttyACM0\" is not the path"},
              {"--fritzbox", "fritz.box:0", "error: --fritzbox: \"fritz.box:0" + host},
              {"--fritzbox", "fritz.box/x", host},
              {"--ami", "pbx", "error: --ami needs --ami-user and --ami-secret-file."},
              {"--country", "XX", "error: --country: \"XX\" is not a two-letter country"},
              {"--area-code", "03x", "error: --area-code: \"03x\" is not an area code"},
              {"--area-code", "30", "error: --area-code needs --country."},
              {"--check-sources", "", "error: --check-sources: no call source is configured"}})
            row(qPrintable(wrong[0] + ' ' + wrong[1]), wrong.mid(0, wrong[1].isEmpty() ? 1 : 2),
                wrong[2]);

        row("port", {"--port", "x"}, "error: --port: \"x\" is not a port from 0 to 65535.");
        row("ping-interval, a day", {"--ping-interval=86400"}, "ping=86400000/259200000 ");
        for (const char* wrong : {"0", "-3", "1.5", "often", "86401"})
            row(wrong, {"--ping-interval", wrong}, "error: --ping-interval: ");
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, outcome);
        QFETCH(QByteArray, bytes);
        QFETCH(int, mode);
        QFETCH(QByteArrayList, variables);
        const QString folder = m_dir.path() + '/';
        QFile::remove(folder + 'f');
        if (!bytes.isNull())
            write("f", bytes, mode);
        arguments.replaceInStrings("~", folder);
        const QString described = describe(parseServerOptions(
            QStringList{"quillora-server"} + arguments, variables.value(0), variables.value(1)));
        for (const QString& part : outcome.split('|'))
            QVERIFY2(described.contains(QString(part).replace("~", folder)), qPrintable(described));
        QVERIFY(!described.startsWith("error") || !described.contains(Password));
    }

    // The program raises its open-file limit to the hard one and lets in clients to fit, 64 spare.
    void programFitsClientsToTheFileLimit()
    {
        static const rlimit limit{100, 300};
        QProcess server;
        server.setChildProcessModifier([] { ::setrlimit(RLIMIT_NOFILE, &limit); });
        QString output;
        testkit::startListening(
            server, QStringLiteral(QUILLORA_SERVER_BIN),
            {"--port", "0", "--db", m_dir.filePath("limit.sqlite"), "--max-clients", "500"},
            &output);
        server.terminate();
        server.waitForFinished();
        QVERIFY2(
            output.contains("Clients: at most 236 of the 500 asked for (open-file limit 300)."),
            qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
