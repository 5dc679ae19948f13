// The server over TCP on 127.0.0.1 in this process with shortened times, every limit it states
// tested at its edge; its guard against password guessing, the time passed in; and the program.

#include "controlchannel.h"
#include "loginguard.h"
#include "server.h"
#include "serverlog.h"
#include "session/protocol.h"
#include "testkit.h"
#include "teststore.h"
#include "tlsidentity.h"
#include "waitingroom.h"

#include <QLocalSocket>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QUrl>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ServerBin = QStringLiteral(QUILLORA_SERVER_BIN);
const QByteArray Greeting = "Welcome to Quillora Server [0.92]";
const QByteArray Password = "s3cret pass";
const QByteArray DbPassword = PostgresCluster::Password;
const QDateTime T0(QDate(2024, 5, 1), QTime(9, 0));
using Outcome = LoginGuard::Outcome;
const QHostAddress A(QStringLiteral("10.0.0.1"));
const QHostAddress B(QStringLiteral("10.0.0.2"));
const QHostAddress C(QStringLiteral("10.0.0.3"));

// Runs the program to its end; whether it exited with the code and printed the text.
bool ran(const QStringList& arguments, int code, const QString& text, QString* printed = nullptr)
{
    QProcess process;
    QString own, &output = printed ? *printed : own;
    testkit::startListening(process, ServerBin, arguments, &output);
    return (process.exitCode() == code && output.contains(text)) ||
           (qWarning("Exit code %d: %s", process.exitCode(), qPrintable(output)), false);
}

// Ends the program, at once or as SIGTERM does; what it printed since last read.
QString ended(QProcess& program, bool kill = true)
{
    kill ? program.kill() : program.terminate();
    program.waitForFinished();
    return QString::fromUtf8(program.readAll());
}

QByteArray procFile(const QProcess& process, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(process.processId()).arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs "INSERT INTO <insert>" for i from 1 to count, the values bound after the count.
bool fill(Database& db, int count, const QString& insert, const QVariantList& values)
{
    QSqlQuery& query = db.statement("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                    "FROM n WHERE i < ?) INSERT INTO " +
                                    insert);
    return db.transaction([&] { return db.exec(query, QVariantList{count} + values); });
}
// Adds contacts "Contact 1" to "<count>", other fields `length` x's, as older servers could.
bool addContacts(Database& db, int count, int length = 0)
{
    const QString x = db.kind() == StoreLocation::Kind::SQLite
                          ? "replace(hex(zeroblob(?)), '00', 'x')"
                          : "repeat('x', ?)";
    return fill(db, count,
                "contacts (name, home, mobile, email, business_phone, business_fax) SELECT "
                "'Contact ' || i, f, f, f, f, f FROM n, (SELECT " +
                    x + " AS f) AS fields",
                {length});
}

// Runs the event loop until done() holds (false if not within the time); QTest::qWaitFor
// pauses, and the server here would build big replies only a slice per pause.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QTimer wake; // the loop waits for events, the deadline's too
    wake.start(timeoutMs);
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// A client that records each read on its own, to see how messages arrive; or one not reading.
class WireClient final : public QObject {
public:
    enum class Reading { AnswersPings, IgnoresPings, Never };

    // Connects from `from` (any of 127.0.0.0/8 stands for another machine).
    explicit WireClient(quint16 port, Reading reading = Reading::AnswersPings,
                        const QHostAddress& from = QHostAddress::LocalHost)
    {
        if (reading == Reading::Never) {
            // Nothing is taken from a small system buffer: what is sent piles up at the server.
            m_socket.setReadBufferSize(1);
            m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        } else {
            connect(&m_socket, &QTcpSocket::readyRead, this, [this, reading] {
                const QByteArray read = m_socket.readAll();
                received += read.size();
                reads.append(read);
                if (reading != Reading::IgnoresPings && read.startsWith("PING_:"))
                    m_socket.write("PONG_:" + read.mid(6));
            });
        }
        m_socket.bind(from);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void write(const QByteArray& bytes) { m_socket.write(bytes); }
    // Writes the bytes, a read of their own; given a prefix, the next read that begins with it.
    QByteArray send(const QByteArray& bytes, const char* prefix = nullptr)
    {
        write(bytes);
        QTest::qWait(30);
        return prefix ? next(prefix) : QByteArray();
    }
    // The next read after those taken that begins with the prefix; empty if none came in time.
    QByteArray next(const QByteArray& prefix, int timeoutMs = 5000)
    {
        const auto found = [&] {
            while (m_taken < reads.size() && !reads[m_taken].startsWith(prefix))
                ++m_taken;
            return m_taken < reads.size();
        };
        return waitUntil(found, timeoutMs) ? reads[m_taken++] : QByteArray();
    }
    // The `bytes` from the next read beginning with the prefix on (empty if late): a long reply.
    QByteArray whole(const QByteArray& prefix, qsizetype bytes, int timeoutMs = 30000)
    {
        const auto came = [&] { return reads.mid(m_taken - 1).join().size() >= bytes; };
        return !next(prefix, timeoutMs).isEmpty() && waitUntil(came, timeoutMs)
                   ? reads.mid(m_taken - 1).join().left(bytes)
                   : QByteArray();
    }
    int count(const QByteArray& text) const { return int(reads.join().count(text)); }
    quint16 localPort() const { return m_socket.localPort(); }

    bool gone() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }

    QList<QByteArray> reads;
    qint64 received = 0;

private:
    QTcpSocket m_socket;
    qsizetype m_taken = 0;
};

} // namespace

class TestServer final : public QObject {
    Q_OBJECT

    std::unique_ptr<DataFixture> m_f;
    ServerConfig m_config;
    std::unique_ptr<Server> m_server;

    void start()
    {
        m_server = std::make_unique<Server>(m_f->db, m_config);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }
    std::unique_ptr<WireClient>
    logIn(WireClient::Reading reading = WireClient::Reading::AnswersPings,
          const QHostAddress& from = QHostAddress::LocalHost)
    {
        const int before = m_server->authenticatedCount();
        auto client = std::make_unique<WireClient>(m_server->port(), reading, from);
        client->write(Password);
        const bool in = waitUntil([&] { return m_server->authenticatedCount() > before; });
        return in ? std::move(client) : nullptr;
    }
    QString writeFile(const char* name, const QByteArray& bytes)
    {
        QFile file(m_f->dir.filePath(QLatin1String(name)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) < 0 ||
            !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
            qFatal("cannot write %s", name);
        return file.fileName();
    }

private slots:
    void initTestCase() { serverlog::setEnabled(false); }
    void init()
    {
        m_server.reset(); // the last test's, before its data
        QString why;      // the store the test is to run against is missing
        if (teststore::postgres() && !PostgresCluster::shared(&why))
            QSKIP(qPrintable(why));
        m_f = std::make_unique<DataFixture>();
        QVERIFY(m_f->open());
        m_config = ServerConfig();
        m_config.port = 0;
        m_config.password = Password;
    }

    // A wrong password, a request instead, or silence ends the connection; an address's passwords
    // (the right one too) wait out pauses doubling from 0.2 s, others' not. Calls reach all in.
    void passwordGateAndCalls()
    {
        QVERIFY(m_f->contacts.insert({0, "Lee, Ann", "555-1000", "555-3000", "ann@x", {}, {}}));
        m_config.authTimeoutMs = 2500; // beyond the pauses
        m_config.login.firstPauseMs = 200;
        start();
        QElapsedTimer clock;
        for (const char* wrong : {"", "STATS:LAST;10", "s3cret pas", "s3cret pass "}) {
            WireClient client(m_server->port());
            QCOMPARE(client.next(""), Greeting);
            clock.start();      // before the last, paused for 0.4 s and followed by 0.8 s
            client.send(wrong); // "" is silence until the time to authenticate runs out
            QVERIFY2(waitUntil([&] { return client.gone(); }) && client.reads.size() == 1, wrong);
        }
        WireClient a(m_server->port());
        a.write(Password);
        const auto b = logIn(WireClient::Reading::AnswersPings, QHostAddress("127.0.0.2"));
        QVERIFY(b && m_server->authenticatedCount() == 1 &&
                waitUntil([&] { return m_server->authenticatedCount() == 2; }));
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));
        WireClient stranger(m_server->port());
        QCOMPARE(stranger.next(""), Greeting);

        QCOMPARE(m_server->announceCall("5553000", T0).clients, 2);
        QCOMPARE(m_server->announceCall(" 555-4242 ", T0).clients, 2);
        const QList<QByteArray> calls{
            "CALL_:2024-05-01 09:00:00,5553000,Lee; Ann,555-1000,555-3000,,,ann@x",
            "CALL_:2024-05-01 09:00:00,555-4242,,,,,,"};
        for (WireClient* client : {&a, b.get()})
            QVERIFY(waitUntil([&] { return client->reads.mid(1) == calls; }));
        QCOMPARE(stranger.reads, QList<QByteArray>{Greeting});
    }

    // Pauses from 0.25 s doubling to 4 s per wrong password (none for no password), afresh after
    // a right one or a quiet minute, others' not; past 1,024 addresses all share an entry and line.
    void loginGuardAndWaitingRoom()
    {
        LoginGuard guard({});
        qint64 now = 1000000;
        QList<qint64> pauses;
        for (int i = 0; i < 7; ++i) {
            now += guard.pauseMs(A, now); // the next password is checked when it may be
            QCOMPARE(guard.record(A, Outcome::WrongPassword, now), i == 0); // a line of its own
            guard.record(A, Outcome::NoPassword, now);
            pauses << guard.pauseMs(A, now);
        }
        QCOMPARE(pauses, (QList<qint64>{250, 500, 1000, 2000, 4000, 4000, 4000}));
        QVERIFY(guard.pauseMs(A, now + 1000) == 3000 && guard.pauseMs(B, now) == 0);
        guard.succeeded(A);
        pauses.clear();
        for (const auto& [from, at] : {std::pair{A, 0}, {B, 0}, {B, 0}, {B, 59999}, {B, 119999}}) {
            guard.record(from, Outcome::WrongPassword, now + at);
            pauses << guard.pauseMs(from, now + at);
        }
        QCOMPARE(pauses, (QList<qint64>{250, 250, 500, 1000, 250})); // the last after a minute

        LoginGuard full({});
        const auto address = [](int i) { return QHostAddress(quint32(0x0A000000 + i)); };
        for (int i = 0; i < 1024; ++i)
            QVERIFY(full.record(address(i), Outcome::NoPassword, now));
        QVERIFY(full.record(address(1024), Outcome::WrongPassword, now) &&
                !full.record(address(5000), Outcome::WrongPassword, now));
        QVERIFY(full.entries() == 1025 && full.pauseMs(address(9999), now) == 500);
        QCOMPARE(full.report(now + 60000, "minute"),
                 QStringList{"1 more wrong password from other addresses in the last minute."});
        QVERIFY(full.isEmpty());

        // Of the places owing the password an address holds its share: a newcomer pushes out its
        // own longest waiting, or with all taken that of the address holding most. Connects: a
        // burst, then a rate (kept for the addresses heard last). An IPv6 /64 is one address.
        WaitingRoom room({3, 2, 3, 2, 2}, 5); // at least 3 places, 2 an address; 2 addresses kept
        QObject c[6];
        QVERIFY(room.places(0) == 5 && room.places(4) == 3);
        const std::tuple<int, QHostAddress, QObject*> entries[] = {
            {0, A, nullptr}, {1, A, nullptr}, {2, A, &c[0]}, {3, B, nullptr},
            {4, C, &c[1]},   {5, B, &c[2]},   {0, C, &c[3]}}; // connection, from, pushed out
        for (const auto& [connection, from, out] : entries)
            QCOMPARE(room.enter(&c[connection], from, 2), out);
        room.leave(&c[5]);
        QVERIFY(room.waiting() == 2 && room.waitingFrom(C) == 2);
        QList<bool> let;
        for (const qint64 at : {0, 0, 0, 0, 499, 600, 600})
            let << room.mayConnect(A, 1000 + at);
        QCOMPARE(let, (QList<bool>{true, true, true, false, false, true, false}));
        QVERIFY(room.mayConnect(B, 1600) && !room.mayConnect(A, 1600));
        QVERIFY(room.mayConnect(C, 1600) && !room.mayConnect(A, 1600)); // B was forgotten
        QCOMPARE(room.addressesKept(), 2);
        const QHostAddress net("2001:db8:1:2::a"), sameNet("2001:db8:1:2:ffff::b");
        QCOMPARE(LoginGuard::group(QHostAddress(QStringLiteral("::ffff:10.0.0.1"))), "10.0.0.1");
        QVERIFY(room.enter(&c[4], net, 5) == nullptr && room.waitingFrom(sameNet) == 1);
        guard.record(net, Outcome::WrongPassword, now);
        QCOMPARE(guard.pauseMs(sameNet, now), 250);
    }

    // Of two owing the password the older gives way to a newcomer; a client not answering probes
    // is dropped. With 3 in, a 4th is turned away before the greeting, or after its password.
    void connectionLimits()
    {
        m_config.setPingInterval(100);
        m_config.authTimeoutMs = 60000;
        m_config.waiting.placesPerAddress = 2;
        m_config.maxClients = 3;
        start();
        WireClient oldest(m_server->port()), newer(m_server->port());
        QCOMPARE(oldest.next("") + newer.next(""), Greeting + Greeting);
        std::vector<std::unique_ptr<WireClient>> in;
        in.push_back(logIn());
        QVERIFY(waitUntil([&] { return oldest.gone(); }));
        auto silent = logIn(WireClient::Reading::IgnoresPings);
        QVERIFY(in.back() && silent && waitUntil([&] { return silent->gone(); }) &&
                silent->count("PING_:") >= 2);
        QVERIFY(!in.back()->gone() && !newer.gone() && m_server->authenticatedCount() == 1);

        in.push_back(logIn());
        in.push_back(logIn());
        QVERIFY(in[1] && in[2]);
        WireClient refused(m_server->port());
        QVERIFY(waitUntil([&] { return refused.gone(); }) && refused.reads.isEmpty());
        in.pop_back();
        QVERIFY(waitUntil([&] { return m_server->authenticatedCount() == 2; }));
        WireClient first(m_server->port()), second(m_server->port());
        QVERIFY(!first.next("Welcome").isEmpty() && !second.next("Welcome").isEmpty());
        first.write(Password);
        second.write(Password);
        QVERIFY(waitUntil([&] { return first.gone() != second.gone(); }));
        QVERIFY(m_server->authenticatedCount() == 3 && !in.front()->gone());
    }

    // Before the password a browser's request (body in the same write or the next), the HTTP/2
    // preface, a TLS handshake or an overlong first message is closed unsaved, logged once; a
    // request or stale password first is served. A name with a line end, escape and direction
    // change reaches clients as is, escaped to the log (at start too: a "None" name) and ring's
    // terminal. Of 8 clients asking for a 15 MB list the 4 never reading go; memory is bounded.
    void programTurnsAwayBrowsersAndEscapesNames()
    {
        const QString name = "None\nClient 10.9.9.9:1 authenticated.\x1b[2J\u202e";
        QVERIFY(m_f->contacts.insert({0, name, "555-0666", {}, {}, {}, {}}));
        QVERIFY(m_f->contacts.insert({0, "nonesuch lower", {}, {}, {}, {}, {}}));
        const bool big = !teststore::postgres(); // memory is measured on SQLite
        QVERIFY(!big || addContacts(m_f->db, 300, 10000));
        const qint64 bytes = Greeting.size() + protocol::encode(m_f->ask("STATS:CNTS;00")).size();
        QProcess server;
        QString log;
        const QString control = m_f->dir.filePath("c");
        const quint16 port = testkit::startListening(
            server, ServerBin,
            {"--port", "0", "--db", m_f->db.path(), "--control", control, "--ping-interval", "1"},
            &log);
        QVERIFY2(port != 0, qPrintable(log));
        std::deque<WireClient> pullers, hogs;
        for (int i = 0; big && i < 4; ++i) {
            pullers.emplace_back(port).write("STATS:CNTS;00");
            hogs.emplace_back(port, WireClient::Reading::Never).write("STATS:CNTS;00");
        }
        QTimer pongs;
        connect(&pongs, &QTimer::timeout, this, [&] {
            for (WireClient& hog : hogs)
                hog.write("PONG_:1");
        });
        pongs.start(300);
        const auto pulled = [&] {
            log += QString::fromUtf8(server.readAll());
            return log.count("has taken nothing of what it is sent") == int(hogs.size()) &&
                   std::all_of(pullers.cbegin(), pullers.cend(),
                               [&](auto& p) { return p.received >= bytes; });
        };
        QVERIFY2(QTest::qWaitFor(pulled, 60000), qPrintable(log));
#if !defined(__SANITIZE_ADDRESS__) // whose quarantine and guard zones make it say nothing
        const qint64 peakKb = testkit::statusFigure(server.processId(), "VmHWM");
        QVERIFY2(peakKb > 0 && peakKb < 160 * 1024, qPrintable(QString::number(peakKb)));
#endif
        const QByteArray head = "POST /x HTTP/1.1\r\nContent-Type: text/plain\r\n\r\n";
        const QByteArray body = "CNTAC:SAVE;NEW,Web Page,555-66,,,,";
        const QList<QByteArrayList> visits{{head, body},
                                           {head + body},
                                           {"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", body},
                                           {QByteArray("\x16\x03\x01\x02\x00\x01", 6), body},
                                           {QByteArray(70000, 'x'), body}}; // too long to judge
        for (const QByteArrayList& writes : visits) {
            WireClient browser(port, WireClient::Reading::IgnoresPings);
            for (const QByteArray& bytes : writes)
                browser.send(bytes);
            QVERIFY(waitUntil([&] { return browser.gone(); }) && browser.count("CNTAC:") == 0);
        }
        WireClient stale(port);
        stale.send(Password);
        QVERIFY(stale.send("CNTAC:SAVE;NEW,Kept,555-67,,,,", "CNTAC:").startsWith("CNTAC:SAVE;"));
        WireClient asking(port); // the page was not saved
        QVERIFY(asking.send("CNTAC:SEAR;ALLF;555-6", "CNTAC:").startsWith("CNTAC:SEAR;Kept,"));
        QString rung;
        QVERIFY(ran({"ring", "--control", control, "555-0666"}, 0,
                    QStringLiteral("announced to %1").arg(2 + pullers.size()), &rung));
        QVERIFY(asking.next("CALL_:").contains(name.toUtf8()));
        log += ended(server);
        const QString shown = "None\\x0aClient 10.9.9.9:1 authenticated.\\x1b[2J\\u202e";
        QVERIFY(log.count("not a Quillora message") == 1 && log.count("cannot be shown") == 1 &&
                log.contains("Contact 1 \"" + shown + "\" cannot be shown"));
        for (const QString& printed : {rung, log})
            QVERIFY2(printed.contains(shown + " (contact 1)") &&
                         !printed.contains("\nClient 10.9") && !printed.contains('\x1b') &&
                         !printed.contains(u'\u202e'),
                     qPrintable(printed));
    }

    // A message of 64 KiB is taken, one byte more dropped; garbage and cut messages get an
    // error or nothing; a save in two reads, and a request after a keep-alive answer, count.
    void inboundMessages()
    {
        m_config.quietMs = 2000; // a held message is handed on by the next one, not by time
        start();
        auto client = logIn();
        QVERIFY(client);
        const QByteArray head = "CNTAC:SEAR;ALLF;";
        const qsizetype max = m_config.maxMessageBytes;
        client->send(head + QByteArray(max - head.size(), 'q'));
        client->send(head + QByteArray(max - head.size() + 1, 'q'));
        client->send(QByteArray("\0\xff\xfe garbage\r\n", 14));
        for (const char* odd : {"CNTAC:", "STATS:", "STATS:XXXX", "CNTAC:SAVE;", "PONG_:"})
            client->send(odd);
        const QByteArray save = "CNTAC:SAVE;NEW," + QByteArray(1000, 'n') + ",555-7777,,,,";
        client->send(save.left(600));
        client->send(save.mid(600));
        client->send("PONG_:1STATS:LAST;1");
        QVERIFY(waitUntil([&] { return client->reads.size() >= 6; }));
        QCOMPARE(client->reads[1], "CNTAC:SEAR;None");
        QByteArrayList kinds;
        for (const QByteArray& read : client->reads.mid(2))
            kinds << read.left(11);
        QCOMPARE(kinds.join(' '), "CNTAC:ERRO; CNTAC:ERRO; CNTAC:SAVE; STATS:LAST;");
        QVERIFY(m_f->contacts.lookup("555-7777")->name.size() == 1000 && !client->gone());
    }

    // Lists hold 100,000 records at most, each once and in order; they and a search before the
    // index is read are built a slice per event-loop turn (calls, small replies go out meanwhile)
    // as if at once. Past the budget waiting to be sent big replies wait, small ones go; a 17th
    // waiting request drops the client not reading, and the reply that waited follows.
    void bigRepliesASliceAtATimeWithinABudget()
    {
        const int max = requests::MaxCount, n = max + 1;
        // The first 200 old records with 10,000-character fields: more than the system buffers.
        QVERIFY(addContacts(m_f->db, 200, 10000) && addContacts(m_f->db, n) &&
                fill(m_f->db, n,
                     "calls (at, number, digits) SELECT CAST(? AS BIGINT), '555-' || i, "
                     "'555' || i FROM n",
                     {T0.toMSecsSinceEpoch()}));
        const QString all = m_f->ask("STATS:CNTS;00");
        const QString last = m_f->ask(QStringLiteral("STATS:LAST;%1").arg(n));
        const QString unknown = m_f->ask(QStringLiteral("STATS:UNKN;%1").arg(n));
        QCOMPARE(all.left(20) + last.left(20) + unknown.left(20),
                 QStringLiteral("STATS:CNTS;%1#09STATS:LAST;%1#03STATS:UNKN;%1#03").arg(max));
        const QStringList contacts = protocol::statsFields(all),
                          calls = protocol::statsFields(last);
        QVERIFY(calls.size() == 3 * max && protocol::statsFields(unknown) == calls);
        for (int i = 0; i < max; ++i) // contacts by ID, calls the newest first
            if (contacts[9 * i] != QString::number(i + 1) ||
                calls[3 * i + 2] != "555-" + QString::number(n - i))
                QFAIL(qPrintable(QStringLiteral("out of order at %1").arg(i)));
        const QByteArray search = protocol::encode(m_f->ask("CNTAC:SEAR;ALLF;"));
        const QByteArray list = protocol::encode(all);
        m_f->db.searchIndex().clear(); // as a server that has just started
        m_config.maxQueuedBytes = 1024 * 1024;
        start();
        auto puller = logIn(), other = logIn(), hog = logIn(WireClient::Reading::Never);
        QVERIFY(puller && other && hog);
        for (const auto& [request, reply] :
             {std::pair{"CNTAC:SEAR;ALLF;", search}, {"STATS:CNTS;00", list}}) {
            puller->write(request);
            QVERIFY(waitUntil([&] { return m_server->repliesInTheMaking() == 1; }));
            QLocalSocket control;
            control.connectToServer(m_server->controlName());
            control.write("RING 555-0100\n");
            QVERIFY(!other->next("CALL_:").isEmpty() && m_server->repliesInTheMaking() == 1);
            other->write("STATS:LAST;1");
            QVERIFY(other->next("STATS:").startsWith("STATS:LAST;1#03") &&
                    m_server->repliesInTheMaking() == 1);
            QCOMPARE(puller->whole(reply.left(11), reply.size()), reply);
        }
        QCOMPARE(puller->count("CALL_:"), 2);

        auto waiting = logIn();
        hog->send("STATS:CNTS;00");
        QVERIFY(waiting);
        QVERIFY(waitUntil([&] { return m_server->queuedBytes() > m_config.maxQueuedBytes; }));
        waiting->send("STATS:CNTS;00");
        QVERIFY(waitUntil([&] { return m_server->repliesWaitingForRoom() == 1; }));
        QVERIFY(other->send("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;1#03"));
        for (int i = 0; i < m_config.maxWaitingRequests; ++i)
            hog->send("STATS:LAST;1");
        QVERIFY(m_server->authenticatedCount() == 4 && waiting->reads.size() == 1); // greeting
        hog->send("STATS:LAST;1");
        QVERIFY(waitUntil([&] { return m_server->authenticatedCount() == 3; }));
        QCOMPARE(waiting->whole("STATS:", list.size()), list);
    }

    // The default control socket is in a private runtime folder. Ring trusts another user's server
    // only in a folder root gave that user (not one made in a shared one); its socket is not taken.
    void controlSocketOwners()
    {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", runtime); });
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_f->dir.filePath("run")));
        start();
        QCOMPARE(m_server->controlName(),
                 m_f->dir.filePath("run/quillora-server-%1").arg(m_server->port()));
        QCOMPARE(QFile::permissions(m_f->dir.filePath("run")).toInt() & 0x7077, 0x7000);
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("the rest needs the superuser, to run a server as \"nobody\"");
        const QByteArray top = QFile::encodeName(m_f->dir.path());
        QVERIFY(::chmod(top, 0755) == 0 && QDir(top).mkpath("shared/own") &&
                QDir(top).mkdir("given") && ::chmod(top + "/shared", 0777) == 0);
        for (const char* folder : {"given", "shared/own"}) {
            const QString control = m_f->dir.filePath(folder) + "/c";
            QVERIFY(::chown(top + '/' + folder, nobody->pw_uid, 0) == 0);
            QProcess server;
            server.setChildProcessModifier([nobody] {
                if (::setgroups(0, nullptr) || ::setgid(nobody->pw_gid) || ::setuid(nobody->pw_uid))
                    ::_exit(125);
            });
            QVERIFY(testkit::startListening(
                server, ServerBin, {"--port", "0", "--db", control + "db", "--control", control}));
            const bool given = folder[0] == 'g';
            QVERIFY(ran({"ring", "--control", control, "555"}, given ? 0 : 1,
                        given ? "announced to 0" : "runs as another user"));
            QCOMPARE(ended(server).contains("Call from 555"), given);
            QString error;
            ControlChannel mine([](const QString&) { return QString(); });
            QVERIFY(!mine.listen(control, &error) && error.contains("another user's socket"));
        }
    }

    // The password, from a file the configuration names or the environment, shows nowhere; the
    // configured limits hold. Killed with a client in (port in TIME_WAIT, control socket left) it
    // restarts on that port with its data and rings through that socket. One address flooding
    // silent connections keeps no other's client out (in within 2 s), and is logged once.
    void programKeepsItsPasswordPortAndData()
    {
        const QString control = m_f->dir.filePath("control");
        const QString db = teststore::location(m_f->dir, QStringLiteral("p.sqlite"));
        const QString config = writeFile(
            "s.conf",
            QStringLiteral("port = 0\ndb = %1\npassword-file = %2\ncontrol = %3\ndemo = true\n"
                           "max-contacts = 61\nmax-saves-per-minute = 2")
                .arg(db, writeFile("pw", Password + "\n"), control)
                .toUtf8());
        QProcess server;
        QString output;
        const quint16 port =
            testkit::startListening(server, ServerBin, {"--config", config}, &output);
        QVERIFY2(port != 0, qPrintable(output));
        QVERIFY(teststore::postgres() || !(QFile::permissions(db) & QFile::ReadOther)); // new
        const QByteArray number = "+44 20 7946 0001";
        WireClient client(port);
        client.send(Password);
        client.send("CNTAC:SAVE;NEW,Rita Ring," + number + ",,,,"); // the 61st, after the demo's
        QVERIFY(ran({"ring", "--config", config, number}, 0,
                    "Rita Ring (contact 61), announced to 1 client."));
        QVERIFY(client.next("CALL_:").endsWith("," + number + ",Rita Ring," + number + ",,,,"));
        QVERIFY(client.send("CNTAC:SAVE;NEW,Over,,,,,", "CNTAC:").contains("holds 61 contacts"));
        QVERIFY(client.send("CNTAC:SAVE;1,Al,,,,,", "CNTAC:").contains(": 2 records have been"));
        server.kill(); // no chance to tidy up
        QVERIFY(server.waitForFinished() && waitUntil([&] { return client.gone(); }) &&
                QFile::exists(control));

        server.setEnvironment(QProcess::systemEnvironment()
                              << "QUILLORA_SERVER_PASSWORD=" + Password);
        QCOMPARE(testkit::startListening(
                     server, ServerBin,
                     {"--port", QString::number(port), "--db", db, "--control", control}, &output),
                 port);
        const QByteArray environ = procFile(server, "environ");
        QVERIFY(environ.contains("PATH=") && !environ.contains(Password));
        WireClient again(port);
        again.send(Password);
        QVERIFY(again.send("STATS:CNTS;00", "STATS:").startsWith("STATS:CNTS;61#09"));
        QVERIFY(again.send("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;1#03Rita Ring,"));
        QVERIFY(ran({"ring", "--control", control, "%1%3"}, 0,
                    "Call from %1%3, an unknown caller, announced to 1 client."));
        QVERIFY(again.next("CALL_:").endsWith(",%1%3,,,,,,"));
        std::deque<QTcpSocket> flood; // the last few hundred stay open
        QTimer flooding;
        connect(&flooding, &QTimer::timeout, this, [&] {
            for (int i = 0; i < 50; ++i) {
                flood.emplace_back().bind(QHostAddress(QStringLiteral("127.0.0.2")));
                flood.back().connectToHost(QHostAddress::LocalHost, port);
            }
            while (flood.size() > 300)
                flood.pop_front();
        });
        flooding.start(0);
        QVERIFY(waitUntil([&] { return flood.size() == 300; })); // and on all the time
        for (int i = 0; i < 5; ++i) {
            WireClient user(port);
            user.write(Password);
            const QString in = QStringLiteral(":%1 authenticated.").arg(user.localPort());
            QVERIFY(waitUntil([&] { return (output += server.readAll()).contains(in); }, 2000));
        }
        output += ended(server, false);
        QVERIFY(server.exitCode() == 0 && !output.contains(Password));
        QCOMPARE(output.count("Refused 127.0.0.2"), 1);

        QVERIFY(ran({"ring", "--control", control, "555"}, 1, "no Quillora server"));
    }

    // Programs held at the first table of an empty database all start once that is undone. Two,
    // its password from the environment and a file: a call rung on A reaches both's clients, once;
    // with the database away calls still go out; back, both store calls and hear each other's.
    void programsShareADatabase()
    {
        if (!teststore::postgres())
            QSKIP("PostgreSQL only");
        const QString name = QUrl(teststore::location(m_f->dir, {})).path().mid(1);
        PostgresCluster* pg = PostgresCluster::shared();
        const QString of = " FROM pg_stat_activity WHERE datname = '" + name + "'";
        std::array<QProcess, 8> programs;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setConnectOptions("host=127.0.0.1 port=" + QString::number(pg->port()) +
                                 " user=" + PostgresCluster::Superuser + " dbname=" + name);
            QVERIFY(db.open() && db.transaction() &&
                    QSqlQuery(db).exec("CREATE TABLE contacts (id INT)"));
            for (QProcess& program : programs) {
                program.setProcessChannelMode(QProcess::MergedChannels);
                program.start(ServerBin, {"--port", "0", "--db", pg->url(name)});
            }
            const QString allWait =
                "SELECT 1 / (count(*) = 8)::int" + of + " AND wait_event_type = 'Lock'";
            QVERIFY(QTest::qWaitFor([&] { return pg->admin(allWait); }, 15000) && db.rollback());
        }
        QSqlDatabase::removeDatabase(name);
        for (QProcess& program : programs) {
            QString log;
            const auto listening = [&] { return (log += program.readAll()).contains("Listening"); };
            QVERIFY2(QTest::qWaitFor(listening, 15000), qPrintable(log));
            ended(program, false);
        }

        const QString url = pg->url(name, PostgresCluster::PasswordUser);
        const QString controlA = m_f->dir.filePath("a"), controlB = m_f->dir.filePath("b");
        const auto ring = [](const QString& control, const char* number, WireClient& client) {
            return ran({"ring", "--control", control, number}, 0, "announced to 1 client") &&
                   client.next("CALL_:").contains(number);
        };
        QProcess a, b;
        QString log;
        a.setEnvironment(QProcess::systemEnvironment() << "QUILLORA_DB_PASSWORD=" + DbPassword);
        WireClient clientA(testkit::startListening(
            a, ServerBin, {"--port", "0", "--db", url, "--control", controlA}, &log));
        QVERIFY(clientA.send("CNTAC:SAVE;NEW,Shared Sam,555-8001,,,,", "CNTAC:")
                    .startsWith("CNTAC:SAVE;"));
        const QString file = writeFile("db-password", DbPassword);
        const QStringList argumentsB{"--db-password-file", file,     "--db",   url,
                                     "--control",          controlB, "--port", "0"};
        WireClient clientB(testkit::startListening(b, ServerBin, argumentsB, &log));
        QVERIFY(!clientB.next("Welcome").isEmpty() && ring(controlA, "555 8001", clientA));
        QVERIFY(clientB.next("CALL_:").endsWith(",555 8001,Shared Sam,555-8001,,,,"));
        for (WireClient* client : {&clientA, &clientB}) // logged once, no second copy came
            QVERIFY(
                client->send("STATS:LAST;5", "STATS:").startsWith("STATS:LAST;1#03Shared Sam,"));
        QCOMPARE(clientA.count("CALL_:") + clientB.count("CALL_:"), 2);

        log += ended(b, false);
        const QString allow = "ALTER DATABASE " + name + " ALLOW_CONNECTIONS ";
        QVERIFY(pg->admin(allow + "false") && pg->admin("SELECT pg_terminate_backend(pid)" + of));
        QVERIFY(ring(controlA, "555 9001", clientA) && ring(controlA, "555 9002", clientA));
        QVERIFY(pg->admin(allow + "true"));
        QVERIFY(QTest::qWaitFor([&] { return (log += a.readAll()).contains("Database back."); },
                                60000));
        QCOMPARE(log.count("Could not log the call"), 1);
        QVERIFY(ring(controlA, "555 9003", clientA));
        WireClient again(testkit::startListening(b, ServerBin, argumentsB, &log));
        QVERIFY(again.send("STATS:LAST;5", "STATS:").startsWith("STATS:LAST;2#03Unknown,"));
        QVERIFY(ring(controlB, "555 9004", clientA)); // through the LISTEN A took up again
        for (QProcess* p : {&a, &b}) {
            QVERIFY(!(procFile(*p, "cmdline") + procFile(*p, "environ")).contains(DbPassword));
            log += ended(*p, false);
        }
        QVERIFY(!log.contains(DbPassword));
    }

    // Beside the TLS port the plain one is for this machine only, or none (the link over TLS: e2e).
    // A connection never starting its handshake is closed, unheard, at the password limit.
    void tlsBesideThePlainPort()
    {
        tlsidentity::Identity identity;
        QString error;
        const QString cert = m_f->dir.filePath("s.crt"), key = m_f->dir.filePath("s.key");
        QVERIFY(tlsidentity::create(cert, key, "quillora.test", &error) &&
                tlsidentity::load(cert, key, &identity, &error));
        m_config.tlsCertificate = identity.certificate;
        m_config.tlsKey = identity.key;
        m_config.tlsPort = 0;
        m_config.authTimeoutMs = 500;
        m_config.address = QHostAddress::AnyIPv4;
        m_config.plain = ServerConfig::Plain::Loopback;
        start();
        QCOMPARE(m_server->address(), QHostAddress(QHostAddress::LocalHost));
        WireClient stalled(m_server->tlsPort());
        QVERIFY(waitUntil([&] { return m_server->clientCount() == 1; }));
        QVERIFY(waitUntil([&] { return stalled.gone(); }, 3000) && stalled.reads.isEmpty());

        m_server.reset();
        m_config.plain = ServerConfig::Plain::Off;
        start();
        QVERIFY(m_server->port() == 0 && m_server->tlsPort() != 0);
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
