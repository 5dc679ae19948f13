// The contacts requests and the taking apart of the server's "CNTAC:" replies.

#include "contacts/contactsprotocol.h"

#include <QTest>
#include <limits>

using namespace contacts;

Q_DECLARE_METATYPE(contacts::Direction)

class TstContactsProtocol final : public QObject {
    Q_OBJECT
private slots:
    void replies();
    void recordIds_data();
    void recordIds();
    void browseTargets_data();
    void browseTargets();
    void saveRequests();
};

void TstContactsProtocol::replies()
{
    Reply r = parseReply("CNTAC:SEAR;Ann,1,2,a@b,3,4,12");
    QVERIFY(r.hasId && r.id == "12" && r.records.isEmpty());
    // An empty payload has no entries at all, not one empty entry.
    r = parseReply("CNTAC:SEAR;");
    QVERIFY(r.kind == Reply::Kind::Records && r.fields.isEmpty() && !r.hasId);
    QCOMPARE(parseReply("CNTAC:SEAR;Nonesuch,1,2,3,4,5,6,6").kind, Reply::Kind::NoResult);
    r = parseReply("CNTAC:SAVE;");
    QVERIFY(r.kind == Reply::Kind::Save && r.text.isEmpty());
    QCOMPARE(parseReply("CNTAC:sear;Ann").kind, Reply::Kind::Ignored);
    QCOMPARE(parseReply("CNTAC:LIST;1").kind, Reply::Kind::Ignored);

    // The viewing line: last match wins, exact text, none gives an empty line.
    QCOMPARE(recordInformation({"12", "7", "12"}, "12"),
             QStringLiteral("Currently viewing no. 3\r\nThe search found 3 records."));
    QCOMPARE(recordInformation({"012", "12 "}, "12"),
             QStringLiteral("\r\nThe search found 2 records."));
}

void TstContactsProtocol::recordIds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("value");
    QTest::newRow("leading zeros, spaces") << " 007 " << true << qint64(7);
    QTest::newRow("past 32 bits") << "9000000000" << true << qint64(9000000000);
    QTest::newRow("largest") << "9223372036854775807" << true << std::numeric_limits<qint64>::max();
    QTest::newRow("smallest") << "-9223372036854775808" << true
                              << std::numeric_limits<qint64>::min();
    QTest::newRow("half to even, down") << "2.5" << true << qint64(2);
    QTest::newRow("half to even, up") << "3.5" << true << qint64(4);
    QTest::newRow("one too large") << "9223372036854775808" << false << qint64(0);
    QTest::newRow("rounds past the top") << "9223372036854775807.5" << false << qint64(0);
    QTest::newRow("word") << "NEW" << false << qint64(0);
    QTest::newRow("trailing letter") << "12a" << false << qint64(0);
    QTest::newRow("other digits") << QString::fromUtf8("\u0661\u0662") << false << qint64(0);
}

void TstContactsProtocol::recordIds()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    const RecordId id = parseRecordId(text);
    QCOMPARE(id.status == RecordId::Status::Ok, ok);
    if (ok)
        QTEST(id.value, "value");
}

void TstContactsProtocol::browseTargets_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<Direction>("direction");
    QTest::addColumn<qint64>("id"); // -1: refused
    const QStringList three{"7", "12", "31"};
    const auto back = Direction::Back;
    const auto next = Direction::Next;
    QTest::newRow("next wraps") << three << "31" << next << qint64(7);
    QTest::newRow("back wraps") << three << "7" << back << qint64(31);
    QTest::newRow("two IDs") << QStringList{"4", "9"} << "9" << back << qint64(4);
    QTest::newRow("last match wins") << QStringList{"5", "9", "5", "8"} << "5" << next << qint64(8);
    QTest::newRow("not listed") << three << "13" << next << qint64(0);
    QTest::newRow("leading zeros") << QStringList{"12", "007"} << "12" << next << qint64(7);
    QTest::newRow("not a number") << QStringList{"12", "x"} << "12" << next << qint64(-1);
    QTest::newRow("bad entry not chosen")
        << QStringList{"x", "12", "31"} << "12" << next << qint64(31);
}

void TstContactsProtocol::browseTargets()
{
    QFETCH(QStringList, records);
    QFETCH(QString, shown);
    QFETCH(Direction, direction);
    QFETCH(qint64, id);
    const BrowseTarget target = browseTarget(records, shown, direction);
    QCOMPARE(target.ok, id >= 0);
    if (target.ok)
        QCOMPARE(target.id, id);
    else
        QVERIFY(target.error.contains(QStringLiteral("\"x\"")));
}

void TstContactsProtocol::saveRequests()
{
    QCOMPARE(saveRequest("12", RecordFields{}), QStringLiteral("CNTAC:SAVE;12,,,,,,"));
    QVERIFY(isBlank(RecordFields{"  ", "", " ", "", "", "   "}));
    QVERIFY(!isBlank(RecordFields{"", "", "", "", "", " x "}));
}

QTEST_GUILESS_MAIN(TstContactsProtocol)
#include "tst_contactsprotocol.moc"
