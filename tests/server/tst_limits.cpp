// Every limit the server states, at its edge: at the limit accepted, one past it refused.

#include "bulkfill.h"
#include "datafixture.h"
#include "pacedwriter.h"
#include "replyjob.h"
#include "server.h"
#include "serverlog.h"
#include "session/protocol.h"
#include "wireclient.h"

#include <QLocalSocket>
#include <QTcpServer>

namespace {

const QDateTime T0(QDate(2024, 5, 1), QTime(9, 0));
const QByteArray Password = "s3cret pass";

} // namespace

class TestLimits final : public QObject {
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
    logIn(WireClient::Reading reading = WireClient::Reading::AnswersPings)
    {
        const int before = m_server->authenticatedCount();
        auto client = std::make_unique<WireClient>(m_server->port(), reading);
        client->write(Password);
        const bool in = QTest::qWaitFor([&] { return m_server->authenticatedCount() > before; });
        return in ? std::move(client) : nullptr;
    }
    // Contacts whose list is longer than a reply may be (old records with 10,000-character
    // fields), and that list as the server sends it.
    QByteArray fillBeyondTheReplyLimit()
    {
        const int count = int(replies::MaxReplyBytes / 50000) + 1;
        if (!bulkfill::addContacts(m_f->db, count, 10000))
            return {};
        return protocol::encode(ask("STATS:CNTS;00"));
    }

    QString ask(const QString& request, qsizetype maxBytes = replies::MaxReplyBytes)
    {
        return m_f->ask(request, maxBytes);
    }

private slots:
    void initTestCase() { serverlog::setEnabled(false); }
    void init()
    {
        QUILLORA_SKIP_WITHOUT_STORE();
        m_f = std::make_unique<DataFixture>();
        QVERIFY(m_f->open());
        m_config = ServerConfig();
        m_config.port = 0;
        m_config.password = Password;
    }
    void cleanup()
    {
        m_server.reset();
        m_f.reset();
    }

    // Each of the six fields of a save holds MaxFieldLength characters, however many bytes
    // they take; one more and nothing is written.
    void savedFieldLength()
    {
        const QString longest(requests::MaxFieldLength, QChar(0xE9)); // two bytes each
        for (int field = 0; field < 6; ++field) {
            QStringList fields(6, QStringLiteral("x"));
            fields[field] = longest;
            QVERIFY(ask("CNTAC:SAVE;NEW," + fields.join(',')).startsWith("CNTAC:SAVE;New record"));
            fields[field] += 'x';
            QVERIFY(ask("CNTAC:SAVE;NEW," + fields.join(',')).startsWith("CNTAC:ERRO;"));
            QVERIFY(ask("CNTAC:SAVE;1," + fields.join(',')).startsWith("CNTAC:ERRO;"));
        }
        QCOMPARE(m_f->contacts.count(), 6);
        QCOMPARE(m_f->contacts.find(1)->name, longest);
        QCOMPARE(ask("CNTAC:SAVE;NEW,Ann,,," + longest + "xy,,"),
                 "CNTAC:ERRO;Record not saved: the e-mail address is 1002 characters long, but a "
                 "field can hold at most 1000 characters.");
    }

    // At exactly the length of the whole reply all of it goes; one byte less leaves the
    // last record (or ID) out, and a statistics header counts one record less.
    void repliesAtTheByteLimit()
    {
        for (const char* name : {"Ann \xC3\xA9", "Bob \xC3\xA9", "Cy \xC3\xA9"}) {
            QVERIFY(m_f->contacts.insert(Contact{0, QString::fromUtf8(name), {}, {}, {}, {}, {}}));
            QVERIFY(m_f->calls.add(T0, QString::fromUtf8(name).left(3), std::nullopt));
        }
        const struct {
            const char* request;
            const char* cut; // the reply one byte short
        } cases[] = {
            {"STATS:CNTS;00", "STATS:CNTS;2#091,Ann \xC3\xA9,,,,,,0,0,2,Bob \xC3\xA9,,,,,,0,0"},
            {"STATS:LAST;5", "STATS:LAST;2#03Unknown,2024-05-01 09:00:00,Cy ,Unknown,2024-05-01 "
                             "09:00:00,Bob"},
            {"CNTAC:SEAR;ALLF;", "CNTAC:SEAR;Ann \xC3\xA9,,,,,,1,1,2"},
        };
        for (const auto& c : cases) {
            const QString whole = ask(c.request);
            const qsizetype bytes = protocol::encode(whole).size();
            QCOMPARE(ask(c.request, bytes), whole);
            QCOMPARE(ask(c.request, bytes - 1), QString::fromUtf8(c.cut));
        }
    }

    // Long lists are read a slice at a time: every record once and in order, also among
    // calls of the same second, whose order the slices must keep.
    void listsSpanningManySlices()
    {
        const int n = 3 * ReplyJob::RowsPerStep + 1;
        QVERIFY(bulkfill::addContacts(m_f->db, n));
        QVERIFY(bulkfill::addCalls(m_f->db, n, T0));
        const QStringList contacts = protocol::statsFields(ask("STATS:CNTS;00"));
        QCOMPARE(contacts.size(), 9 * n);
        for (const char* request : {"STATS:LAST;100000", "STATS:UNKN;100000"}) {
            const QString reply = ask(request);
            QVERIFY2(reply.startsWith(QString(request).left(11) + QString::number(n) + "#03"),
                     qPrintable(reply.left(20)));
            const QStringList calls = protocol::statsFields(reply);
            QCOMPARE(calls.size(), 3 * n);
            for (int i = 0; i < n; ++i) {
                QCOMPARE(contacts[9 * i], QString::number(i + 1));
                QCOMPARE(calls[3 * i + 2], "555-" + QString::number(n - i)); // the newest first
            }
        }
    }

    // Counts above 100,000 give 100,000, and the contact list holds 100,000 at most.
    void hundredThousandRecords()
    {
        const int max = requests::MaxCount;
        QVERIFY(bulkfill::addContacts(m_f->db, max + 1));
        QVERIFY(bulkfill::addCalls(m_f->db, max + 1, T0));
        for (const int count : {max, max + 1}) {
            const QString reply = ask("STATS:LAST;" + QString::number(count));
            QVERIFY2(reply.startsWith("STATS:LAST;100000#03"), qPrintable(reply.left(30)));
            QVERIFY(reply.endsWith(",555-2"));
        }
        const QString all = ask("STATS:CNTS;00");
        QVERIFY2(all.startsWith("STATS:CNTS;100000#09"), qPrintable(all.left(30)));
        QVERIFY(all.endsWith(",100000,Contact 100000,,,,,,0,0"));
    }

    // A message of 64 KiB is taken; one byte more is dropped, and what follows is not.
    void inboundMessageLength()
    {
        start();
        auto client = logIn();
        QVERIFY(client);
        const QByteArray head = "CNTAC:SEAR;ALLF;";
        const qsizetype max = m_config.maxMessageBytes;
        QCOMPARE(max, 64 * 1024);
        QCOMPARE(client->send(head + QByteArray(max - head.size(), 'q'), "CNTAC:"),
                 "CNTAC:SEAR;None");
        client->send(head + QByteArray(max - head.size() + 1, 'q'));
        QVERIFY(client->send("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;0#03"));
        QCOMPARE(client->reads.size(), 3); // the greeting and the two answers
    }

    // 8 connections may wait to send the password: a 9th makes the one that has waited
    // longest close. --max-clients clients may be in (2,000 unless told): one more is turned
    // away before the greeting, and one that connected while there was room is dropped
    // after its password when others have filled the server meanwhile.
    void connectionsAndClients()
    {
        QCOMPARE(m_config.maxClients, 2000);
        m_config.maxClients = 3;
        start();
        QCOMPARE(m_config.maxUnauthenticated, 8);
        std::vector<std::unique_ptr<WireClient>> waiting;
        for (int i = 0; i <= 8; ++i) {
            waiting.push_back(std::make_unique<WireClient>(m_server->port()));
            QVERIFY(!waiting.back()->next("Welcome").isEmpty());
        }
        QVERIFY(QTest::qWaitFor([&] { return waiting.front()->gone(); }));
        for (size_t i = 1; i < waiting.size(); ++i)
            QVERIFY(!waiting[i]->gone());
        waiting.clear();

        std::vector<std::unique_ptr<WireClient>> in;
        for (int i = 0; i < 3; ++i) {
            in.push_back(logIn());
            QVERIFY(in.back());
        }
        WireClient refused(m_server->port());
        QVERIFY(QTest::qWaitFor([&] { return refused.gone(); }));
        QVERIFY(refused.reads.isEmpty());
        QCOMPARE(m_server->authenticatedCount(), 3);

        in.pop_back();
        QVERIFY(QTest::qWaitFor([&] { return m_server->authenticatedCount() == 2; }));
        WireClient first(m_server->port());
        WireClient second(m_server->port());
        QVERIFY(!first.next("Welcome").isEmpty() && !second.next("Welcome").isEmpty());
        first.write(Password);
        second.write(Password);
        QVERIFY(QTest::qWaitFor([&] { return first.gone() != second.gone(); }));
        QCOMPARE(m_server->authenticatedCount(), 3);
        QVERIFY(!in.front()->gone());
    }

    // A search of every contact with the search index still to be read, and the list of
    // every contact, are built a slice per turn of the event loop: meanwhile a call reaches
    // the other clients through the control socket and another client's small request is
    // answered, and the big replies are the bytes of the same replies built at once.
    void callsAndSmallRequestsGoOnDuringBigReplies()
    {
        QVERIFY(bulkfill::addContacts(m_f->db, requests::MaxCount));
        const QByteArray search = protocol::encode(ask("CNTAC:SEAR;ALLF;"));
        const QByteArray list = protocol::encode(ask("STATS:CNTS;00"));
        m_f->db.searchIndex().clear(); // as a server that has just started
        start();
        auto puller = logIn();
        auto other = logIn();
        QVERIFY(puller && other);
        const struct {
            const char* request;
            QByteArray reply;
        } cases[] = {{"CNTAC:SEAR;ALLF;", search}, {"STATS:CNTS;00", list}};
        for (const auto& c : cases) {
            puller->write(c.request);
            QVERIFY(QTest::qWaitFor([&] { return m_server->repliesInTheMaking() == 1; }));
            QLocalSocket control;
            control.connectToServer(m_server->controlName());
            control.write("RING 555-0100\n");
            QVERIFY(!other->next("CALL_:").isEmpty());
            QCOMPARE(m_server->repliesInTheMaking(), 1);
            other->write("STATS:LAST;1");
            QVERIFY(other->next("STATS:").startsWith("STATS:LAST;1#03"));
            QCOMPARE(m_server->repliesInTheMaking(), 1);
            QCOMPARE(puller->whole(c.reply.left(11), c.reply.size()).left(c.reply.size()), c.reply);
        }
        // The puller had the calls too, each at once, before its reply.
        QCOMPARE(std::count_if(puller->reads.begin(), puller->reads.end(),
                               [](const QByteArray& read) { return read.startsWith("CALL_:"); }),
                 2);
    }

    // 32 MiB may wait to be sent to a client, counting what is queued and what its socket
    // holds; a byte more is refused.
    void backlogPerClient()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(QTest::qWaitFor([&] { return listener.hasPendingConnections(); }));
        QTcpSocket* socket = listener.nextPendingConnection();
        // The socket writes only when the event loop runs, which it does not from here on.
        const qsizetype max = m_config.maxPendingBytes;
        QCOMPARE(max, 32 * 1024 * 1024);
        PacedWriter writer(socket, m_config.messageGapMs, max);
        QVERIFY(writer.enqueue(QByteArray(max - 2, 'a'))); // written into the socket
        QVERIFY(writer.enqueue("b"));                      // queued behind it
        QVERIFY(writer.enqueue("c"));
        QCOMPARE(writer.pendingBytes(), max);
        QVERIFY(!writer.enqueue("d"));
        QCOMPARE(writer.pendingBytes(), max);
    }

    // While the answer to a client's request is on its way, 16 more requests may wait; a
    // 17th shows a client that sends without reading, and it is dropped.
    void waitingRequests()
    {
        QVERIFY(!fillBeyondTheReplyLimit().isEmpty());
        start();
        auto reader = logIn();
        auto client = logIn(WireClient::Reading::Never);
        QVERIFY(reader && client);
        client->send("STATS:CNTS;00"); // more than the system holds for it
        QVERIFY(QTest::qWaitFor([&] { return m_server->queuedBytes() > 0; }));
        QCOMPARE(m_config.maxWaitingRequests, 16);
        for (int i = 0; i < 16; ++i)
            client->send("STATS:LAST;1");
        QCOMPARE(m_server->authenticatedCount(), 2);
        client->send("STATS:LAST;1");
        QVERIFY(QTest::qWaitFor([&] { return m_server->authenticatedCount() == 1; }));
        QVERIFY(reader->send("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;0#03"));
    }

    // Under 64 MiB waiting for all clients together, counting the reply being built, a
    // reply is built on; at 64 MiB it waits, unless nothing else waits at all.
    void queuedForAllClientsBudget()
    {
        const qsizetype budget = m_config.maxQueuedBytes;
        QCOMPARE(budget, 64 * 1024 * 1024);
        QVERIFY(Server::mayBuildOn(budget - 1001, 1000, budget));
        QVERIFY(!Server::mayBuildOn(budget - 1000, 1000, budget));
        QVERIFY(Server::mayBuildOn(0, 2 * budget, budget));
        QVERIFY(!Server::mayBuildOn(1, 2 * budget, budget));
    }

    // While more than the budget waits for all clients together (here: one that does not
    // read), a reply that takes several steps is not built on; small ones are answered at
    // once. Once the backlog has gone, the reply follows, cut at 16 MiB like any other.
    void queuedForAllClients()
    {
        const QByteArray list = fillBeyondTheReplyLimit();
        QVERIFY(list.size() <= replies::MaxReplyBytes);
        QVERIFY(list.startsWith("STATS:CNTS;335#09")); // of 336
        m_config.maxQueuedBytes = 1024 * 1024;
        start();
        auto hog = logIn(WireClient::Reading::Never);
        auto waiting = logIn();
        auto other = logIn();
        QVERIFY(hog && waiting && other);
        hog->send("STATS:CNTS;00");
        QVERIFY(QTest::qWaitFor([&] { return m_server->queuedBytes() > m_config.maxQueuedBytes; }));
        waiting->send("STATS:CNTS;00");
        QVERIFY(QTest::qWaitFor([&] { return m_server->repliesWaitingForRoom() == 1; }));
        QVERIFY(other->send("STATS:LAST;1", "STATS:").startsWith("STATS:LAST;0#03"));
        QCOMPARE(waiting->reads.size(), 1); // the greeting
        hog->close();
        QCOMPARE(waiting->whole("STATS:", list.size()), list);
    }
};

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"
