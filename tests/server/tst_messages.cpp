// The server's pure message functions: request parsing, reply building, reassembly of
// inbound reads and the password check.

#include "clientsession.h"
#include "inboundassembler.h"
#include "replies.h"
#include "requests.h"

#include <QTest>

using requests::StatsKind;

class TestMessages final : public QObject {
    Q_OBJECT
private slots:
    void statsCounts_data();
    void statsCounts();
    void statsKinds();
    void searchRequests();
    void browseRequests();
    void saveRequests();
    void callMessages();
    void assemblerJoinsAndSplits();
    void assemblerDropsOversized();
    void passwordCheck();
};

void TestMessages::statsCounts_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("count");
    QTest::newRow("plain") << "STATS:LAST;20" << 20;
    QTest::newRow("spaces around") << "STATS:LAST; 30 " << 30;
    QTest::newRow("empty") << "STATS:LAST;" << 10;
    QTest::newRow("no semicolon") << "STATS:LAST" << 10;
    QTest::newRow("text") << "STATS:UNKN;abc" << 10;
    QTest::newRow("zero") << "STATS:TOPS;0" << 10;
    QTest::newRow("negative") << "STATS:TOPS;-5" << 10;
    QTest::newRow("fraction") << "STATS:TOPS;2.5" << 10;
    QTest::newRow("huge") << "STATS:TOPS;99999999999999999999999" << requests::MaxCount;
    QTest::newRow("above limit") << "STATS:TOPS;100001" << requests::MaxCount;
}

void TestMessages::statsCounts()
{
    QFETCH(QString, request);
    QFETCH(int, count);
    const auto parsed = requests::parseStats(request);
    QVERIFY(parsed);
    QCOMPARE(parsed->count, count);
}

void TestMessages::statsKinds()
{
    QCOMPARE(requests::parseStats(QStringLiteral("STATS:LAST;5"))->kind, StatsKind::Last);
    QCOMPARE(requests::parseStats(QStringLiteral("STATS:UNKN;5"))->kind, StatsKind::Unknown);
    QCOMPARE(requests::parseStats(QStringLiteral("STATS:TOPS;5"))->kind, StatsKind::Top);
    QCOMPARE(requests::parseStats(QStringLiteral("STATS:CNTS;00"))->kind, StatsKind::Contacts);
    QVERIFY(!requests::parseStats(QStringLiteral("STATS:XXXX;5")));
    QVERIFY(!requests::parseStats(QStringLiteral("STATS:last;5")));
}

void TestMessages::searchRequests()
{
    auto search = [](const char* text) {
        return std::get<requests::Search>(requests::parseContacts(QString::fromUtf8(text)));
    };
    QCOMPARE(search("CNTAC:SEAR;NAME;smith").field, requests::SearchField::Name);
    QCOMPARE(search("CNTAC:SEAR;NAME;smith").text, QStringLiteral("smith"));
    QCOMPARE(search("CNTAC:SEAR;BFAX;555").field, requests::SearchField::BusinessFax);
    QCOMPARE(search("CNTAC:SEAR;ALLF;").text, QString());
    // The text keeps spaces and semicolons; only the first ";" ends the code.
    QCOMPARE(search("CNTAC:SEAR;EMAI; a;b ").text, QStringLiteral(" a;b "));
    QVERIFY(!search("CNTAC:SEAR;NAME;smith").browse);

    const auto refused = requests::parseContacts(QStringLiteral("CNTAC:SEAR;XXXX;smith"));
    QVERIFY(std::get<requests::Refusal>(refused).text.contains(QLatin1String("XXXX")));
    QVERIFY(std::holds_alternative<requests::Refusal>(
        requests::parseContacts(QStringLiteral("CNTAC:SEAR;NAME"))));
    QVERIFY(std::holds_alternative<requests::Refusal>(
        requests::parseContacts(QStringLiteral("CNTAC:DELE;1"))));
}

void TestMessages::browseRequests()
{
    auto search = [](const QString& text) {
        return std::get<requests::Search>(requests::parseContacts(text));
    };
    const requests::Search s = search(QStringLiteral("CNTAC:SEAR;NAME;smith,@RECORD:31"));
    QVERIFY(s.browse);
    QCOMPARE(s.browseId, qint64(31));
    QCOMPARE(s.text, QStringLiteral("smith"));
    QCOMPARE(s.field, requests::SearchField::Name);

    // Split at the last marker: the search text may hold one itself.
    const requests::Search twice = search(QStringLiteral("CNTAC:SEAR;ALLF;a,@RECORD:1,@RECORD:2"));
    QCOMPARE(twice.text, QStringLiteral("a,@RECORD:1"));
    QCOMPARE(twice.browseId, qint64(2));

    // IDs past 32,767 and past 32 bits are ordinary IDs.
    QCOMPARE(search(QStringLiteral("CNTAC:SEAR;ALLF;,@RECORD:5000000000")).browseId,
             Q_INT64_C(5000000000));
    // An ID no 64-bit number holds names no contact.
    QCOMPARE(search(QStringLiteral("CNTAC:SEAR;ALLF;,@RECORD:99999999999999999999")).browseId,
             qint64(-1));
    // A marker without a number is part of the text.
    const requests::Search text = search(QStringLiteral("CNTAC:SEAR;ALLF;x,@RECORD:y"));
    QVERIFY(!text.browse);
    QCOMPARE(text.text, QStringLiteral("x,@RECORD:y"));
}

void TestMessages::saveRequests()
{
    const auto update = std::get<requests::Save>(requests::parseContacts(
        QStringLiteral("CNTAC:SAVE;12,Ann Lee, 555-1,,ann@example.com,555-7,")));
    QVERIFY(!update.isNew);
    QCOMPARE(update.contact.id, qint64(12));
    QCOMPARE(update.contact.name, QStringLiteral("Ann Lee"));
    QCOMPARE(update.contact.home, QStringLiteral(" 555-1")); // stored as typed
    QCOMPARE(update.contact.mobile, QString());
    QCOMPARE(update.contact.email, QStringLiteral("ann@example.com"));
    QCOMPARE(update.contact.businessPhone, QStringLiteral("555-7"));
    QCOMPARE(update.contact.businessFax, QString());

    const auto created =
        std::get<requests::Save>(requests::parseContacts(QStringLiteral("CNTAC:SAVE;NEW,B,,,,,")));
    QVERIFY(created.isNew);
    QCOMPARE(created.contact.name, QStringLiteral("B"));

    // A comma inside a field shifts every later one: refused, never stored shifted.
    const auto shifted =
        requests::parseContacts(QStringLiteral("CNTAC:SAVE;12,Lee, Ann,1,2,3,4,5"));
    QVERIFY(std::get<requests::Refusal>(shifted).text.contains(QLatin1String("Commas")));
    for (const char* bad :
         {"CNTAC:SAVE;12,a,b", "CNTAC:SAVE;", "CNTAC:SAVE;x1,a,b,c,d,e,f",
          "CNTAC:SAVE;0,a,b,c,d,e,f", "CNTAC:SAVE;new,a,b,c,d,e,f", "CNTAC:SAVE;-3,a,b,c,d,e,f"}) {
        QVERIFY2(std::holds_alternative<requests::Refusal>(
                     requests::parseContacts(QString::fromLatin1(bad))),
                 bad);
    }
}

void TestMessages::callMessages()
{
    const QDateTime at(QDate(2024, 5, 1), QTime(14, 3, 59));
    Contact ann;
    ann.id = 3;
    ann.name = QStringLiteral("Lee, Ann");
    ann.home = QStringLiteral("555-1");
    ann.mobile = QStringLiteral("555-2");
    ann.email = QStringLiteral("ann@example.com");
    ann.businessPhone = QStringLiteral("555-3");
    ann.businessFax = QStringLiteral("555-4");
    // Number, name, home, mobile, work, work fax, e-mail; the comma in the name replaced.
    QCOMPARE(replies::call(at, QStringLiteral("555-1"), ann),
             QStringLiteral("CALL_:2024-05-01 14:03:59,555-1,Lee; Ann,555-1,555-2,555-3,555-4,"
                            "ann@example.com"));
    // Unknown: the number and six empty details, so no earlier caller's text stays.
    QCOMPARE(replies::call(at, QStringLiteral("555-9"), std::nullopt),
             QStringLiteral("CALL_:2024-05-01 14:03:59,555-9,,,,,,"));
    QCOMPARE(replies::ping(7), QStringLiteral("PING_:7"));
}

void TestMessages::assemblerJoinsAndSplits()
{
    InboundAssembler assembler(64 * 1024);
    // A short read is a whole message at once (the password has no prefix).
    auto r = assembler.feed("secret");
    QCOMPARE(r.messages.size(), size_t(1));
    QCOMPARE(r.messages[0], QByteArray("secret"));

    // A long message in two reads is held, then joined.
    const QByteArray head = "CNTAC:SAVE;NEW," + QByteArray(600, 'a');
    r = assembler.feed(head);
    QVERIFY(r.messages.empty());
    r = assembler.feed(",b,c,d,e,f");
    QVERIFY(r.messages.empty());
    QCOMPARE(assembler.takeHeld(), head + ",b,c,d,e,f");

    // The next request's first read hands the held one on.
    assembler.feed("STATS:" + QByteArray(700, '1'));
    r = assembler.feed("PONG_:1");
    QCOMPARE(r.messages.size(), size_t(2));
    QVERIFY(r.messages[0].startsWith("STATS:"));
    QCOMPARE(r.messages[1], QByteArray("PONG_:1"));
    QVERIFY(!assembler.holding());
}

void TestMessages::assemblerDropsOversized()
{
    InboundAssembler assembler(1000);
    auto r = assembler.feed("CNTAC:SEAR;ALLF;" + QByteArray(900, 'x'));
    QVERIFY(!r.dropped);
    r = assembler.feed(QByteArray(200, 'y'));
    QVERIFY(r.dropped);
    // The rest of the dropped message goes too, until the next request begins.
    r = assembler.feed(QByteArray(100, 'z'));
    QVERIFY(r.messages.empty());
    QVERIFY(!assembler.holding());
    r = assembler.feed("PONG_:2");
    QCOMPARE(r.messages.size(), size_t(1));
    QCOMPARE(r.messages[0], QByteArray("PONG_:2"));
    // A single read over the limit is dropped as well.
    QVERIFY(assembler.feed(QByteArray(1001, 'q')).dropped);
}

void TestMessages::passwordCheck()
{
    QVERIFY(ClientSession::passwordMatches("s3cret", "s3cret"));
    QVERIFY(!ClientSession::passwordMatches("s3cre", "s3cret"));
    QVERIFY(!ClientSession::passwordMatches("s3cret ", "s3cret"));
    QVERIFY(!ClientSession::passwordMatches("S3cret", "s3cret"));
    QVERIFY(!ClientSession::passwordMatches("", "s3cret"));
}

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
