// The server over real TCP on 127.0.0.1, in this process, with shortened times: greeting,
// password, keep-alive, pacing, call announcements and hostile input.

#include "database.h"
#include "server.h"
#include "serverlog.h"
#include "wireclient.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

class TestServer final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { serverlog::setEnabled(false); }
    void init();
    void cleanup();
    void greetsAndAcceptsThePassword();
    void wrongPasswordCloses();
    void nothingIsAcceptedBeforeThePassword();
    void unauthenticatedClientTimesOut();
    void keepAliveDropsSilentClients();
    void twoCallsArriveAsTwoReads();
    void callsReachEveryAuthenticatedClient();
    void withoutPasswordEveryoneIsIn();
    void refusesClientsOverTheLimit();
    void survivesOversizedAndGarbageInput();
    void joinsAMessageSentInPieces();

private:
    void startServer(const QString& password = QStringLiteral("s3cret"));
    std::unique_ptr<WireClient> loggedIn();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<Server> m_server;
    ServerConfig m_config;
    qint64 m_ann = 0;
};

void TestServer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_db = std::make_unique<Database>();
    QVERIFY(m_db->open(m_dir->filePath(QStringLiteral("s.sqlite"))));
    Contact ann;
    ann.name = QStringLiteral("Ann Lee");
    ann.home = QStringLiteral("555-1000");
    ann.mobile = QStringLiteral("555-3000");
    ann.email = QStringLiteral("ann@example.com");
    m_ann = *ContactStore(*m_db).insert(ann);

    m_config = ServerConfig();
    m_config.port = 0;
    m_config.controlName =
        QStringLiteral("quillora-test-%1").arg(QCoreApplication::applicationPid());
    m_config.authTimeoutMs = 400;
    m_config.pingIntervalMs = 100;
    m_config.silenceLimitMs = 500;
}

void TestServer::cleanup()
{
    m_server.reset();
    m_db.reset();
    m_dir.reset();
}

void TestServer::startServer(const QString& password)
{
    m_config.password = password;
    m_server = std::make_unique<Server>(*m_db, m_config);
    QString error;
    QVERIFY2(m_server->start(&error), qPrintable(error));
}

std::unique_ptr<WireClient> TestServer::loggedIn()
{
    const int before = m_server->authenticatedCount();
    auto client = std::make_unique<WireClient>(m_server->port());
    client->answerPings(true);
    if (!client->logIn("s3cret") ||
        !QTest::qWaitFor([&] { return m_server->authenticatedCount() > before; }, 5000))
        return nullptr;
    return client;
}

void TestServer::greetsAndAcceptsThePassword()
{
    startServer();
    WireClient client(m_server->port());
    QVERIFY(client.waitForReads(1));
    QCOMPARE(client.reads().first(), QByteArray("Welcome to Quillora Server [0.92]"));
    client.send("s3cret");
    // Authenticated: requests are answered.
    const QByteArray reply = client.ask("CNTAC:SEAR;NAME;ann", "CNTAC:");
    QCOMPARE(reply, QStringLiteral("CNTAC:SEAR;Ann Lee,555-1000,555-3000,ann@example.com,,,%1,%1")
                        .arg(m_ann)
                        .toUtf8());
    QVERIFY(!client.isGone());
}

void TestServer::wrongPasswordCloses()
{
    startServer();
    for (const QByteArray& wrong : {QByteArray("s3cre"), QByteArray("s3cret "), QByteArray("x")}) {
        WireClient client(m_server->port());
        QVERIFY(client.logIn(wrong));
        QVERIFY2(client.waitForDisconnected(), wrong.constData());
        QCOMPARE(client.reads().size(), 1); // the greeting and nothing else
    }
    QCOMPARE(m_server->authenticatedCount(), 0);
}

void TestServer::nothingIsAcceptedBeforeThePassword()
{
    startServer();
    WireClient client(m_server->port());
    QVERIFY(client.logIn("STATS:LAST;10"));
    QVERIFY(client.waitForDisconnected());
    QCOMPARE(client.reads().size(), 1);
}

void TestServer::unauthenticatedClientTimesOut()
{
    startServer();
    WireClient silent(m_server->port());
    QVERIFY(silent.waitForReads(1));
    QVERIFY(silent.waitForDisconnected());
    QCOMPARE(m_server->clientCount(), 0);
}

void TestServer::keepAliveDropsSilentClients()
{
    startServer();
    auto answering = loggedIn();
    QVERIFY(answering);
    auto silent = loggedIn();
    QVERIFY(silent);
    silent->answerPings(false);

    QVERIFY(silent->waitForDisconnected());
    QVERIFY(!answering->isGone());
    QCOMPARE(m_server->authenticatedCount(), 1);
    // The probes are "PING_:" with a number that counts up.
    QList<QByteArray> pings;
    for (const QByteArray& read : answering->reads()) {
        if (read.startsWith("PING_:"))
            pings.append(read);
    }
    QVERIFY(pings.size() >= 3);
    QVERIFY(pings[0].mid(6).toInt() > 0);
    QCOMPARE(pings[1].mid(6).toInt(), pings[0].mid(6).toInt() + 1);
}

void TestServer::twoCallsArriveAsTwoReads()
{
    m_config.pingIntervalMs = 60000; // no probes in between
    startServer();
    auto client = loggedIn();
    QVERIFY(client);
    const qsizetype before = client->reads().size();
    m_server->announceCall(QStringLiteral("555-1000"));
    m_server->announceCall(QStringLiteral("555-9999"));
    QVERIFY(client->waitForReads(before + 2));
    QTest::qWait(100); // nothing more follows
    const QList<QByteArray> reads = client->reads().mid(before);
    QCOMPARE(reads.size(), 2);
    QVERIFY(reads[0].startsWith("CALL_:"));
    QVERIFY(reads[0].endsWith(",555-1000,Ann Lee,555-1000,555-3000,,,ann@example.com"));
    QVERIFY(reads[1].endsWith(",555-9999,,,,,,"));
}

void TestServer::callsReachEveryAuthenticatedClient()
{
    startServer();
    auto a = loggedIn();
    auto b = loggedIn();
    QVERIFY(a && b);
    WireClient stranger(m_server->port());
    QVERIFY(stranger.waitForReads(1));

    const Server::Announcement known = m_server->announceCall(QStringLiteral("5553000"));
    QCOMPARE(known.clients, 2);
    QVERIFY(known.logged);
    QVERIFY(known.caller);
    QCOMPARE(known.caller->id, m_ann);
    for (WireClient* client : {a.get(), b.get()}) {
        const QByteArray call = client->waitFor("CALL_:");
        QVERIFY(call.endsWith(",5553000,Ann Lee,555-1000,555-3000,,,ann@example.com"));
    }
    const Server::Announcement unknown = m_server->announceCall(QStringLiteral("555-4242"));
    QVERIFY(!unknown.caller);
    QVERIFY(a->waitFor("CALL_:").endsWith(",555-4242,,,,,,"));
    QVERIFY(stranger.waitForDisconnected()); // timed out, never saw a call
    for (const QByteArray& read : stranger.reads())
        QVERIFY(!read.startsWith("CALL_:"));

    // Both calls are in the log, the known one with its contact.
    const auto logged = m_server->calls().newest(10, false);
    QCOMPARE(logged.size(), 2);
    QCOMPARE(logged[1].name, QStringLiteral("Ann Lee"));
    QCOMPARE(logged[0].name, QStringLiteral("Unknown"));
}

void TestServer::withoutPasswordEveryoneIsIn()
{
    startServer(QString());
    WireClient client(m_server->port());
    QVERIFY(client.waitForReads(1));
    QVERIFY(QTest::qWaitFor([&] { return m_server->authenticatedCount() == 1; }));
    // A client that sends a password anyway is not thrown out for it.
    client.send("whatever");
    QVERIFY(client.ask("STATS:LAST;10", "STATS:").startsWith("STATS:LAST;0#03"));
}

void TestServer::refusesClientsOverTheLimit()
{
    m_config.maxClients = 64;
    m_config.authTimeoutMs = 60000;
    startServer();
    std::vector<std::unique_ptr<WireClient>> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(std::make_unique<WireClient>(m_server->port()));
        QVERIFY(clients.back()->waitForReads(1));
    }
    WireClient extra(m_server->port());
    QVERIFY(extra.waitForDisconnected());
    QVERIFY(extra.reads().isEmpty());
    // Once one leaves, a new client gets in.
    clients.front()->socket().abort();
    QVERIFY(QTest::qWaitFor([&] { return m_server->clientCount() == 63; }));
    WireClient later(m_server->port());
    QVERIFY(later.waitForReads(1));
}

void TestServer::survivesOversizedAndGarbageInput()
{
    startServer();
    auto client = loggedIn();
    QVERIFY(client);
    client->send("CNTAC:SEAR;ALLF;" + QByteArray(200 * 1024, 'x'));
    client->send(QByteArray("\0\xff\xfe garbage\r\n", 14));
    client->send("CNTAC:");
    QVERIFY(client->waitFor("CNTAC:ERRO;").size() > 11);
    for (const char* odd : {"STATS:", "STATS:XXXX", "CNTAC:SAVE;", "CNTAC:SEAR;;", "PONG_:"})
        client->send(odd);
    // Still there and still answering properly.
    const QByteArray reply = client->ask("CNTAC:SEAR;PHON;555-1000", "CNTAC:SEAR;");
    QVERIFY(reply.startsWith("CNTAC:SEAR;Ann Lee,"));
    QCOMPARE(ContactStore(*m_db).count(), qint64(1));
    QVERIFY(!client->isGone());
}

void TestServer::joinsAMessageSentInPieces()
{
    m_config.quietMs = 2000; // the pieces come well within this
    startServer();
    auto client = loggedIn();
    QVERIFY(client);
    const QByteArray name(1000, 'n');
    const QByteArray save = "CNTAC:SAVE;NEW," + name + ",555-7777,,,,";
    client->send(save.left(600));
    QTest::qWait(2); // a second read, not quite quiet
    client->send(save.mid(600));
    QVERIFY(client->waitFor("CNTAC:SAVE;").size() > 11);
    const auto stored = ContactStore(*m_db).lookup(QStringLiteral("555-7777"));
    QVERIFY(stored);
    QCOMPARE(stored->name.size(), 1000);
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
