#include "session/protocol.h"

#include <QTest>

using protocol::StatsKind;

class TestStatsReply : public QObject {
    Q_OBJECT
private slots:
    void kind_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("kind");
        QTest::newRow("last") << "STATS:LAST;10#00a,b,c" << int(StatsKind::LastCalls);
        QTest::newRow("unrecognised") << "STATS:UNKN#00" << int(StatsKind::UnrecognisedCalls);
        QTest::newRow("top, nothing more") << "STATS:TOPS" << int(StatsKind::TopCallers);
        QTest::newRow("contacts") << "STATS:CNTS;00#01x" << int(StatsKind::ContactList);
        QTest::newRow("other") << "STATS:XXXX#00a,b" << int(StatsKind::Other);
        QTest::newRow("lower case") << "STATS:last#00a" << int(StatsKind::Other);
        QTest::newRow("too short") << "STATS:LAS" << int(StatsKind::Other);
    }
    void kind()
    {
        QFETCH(QString, reply);
        QFETCH(int, kind);
        QCOMPARE(int(protocol::statsKind(reply)), kind);
    }

    void fields_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("two calls")
            << "STATS:LAST#00Ann,12:01,5551234,Bob,12:05,5559876"
            << QStringList{"Ann", "12:01", "5551234", "Bob", "12:05", "5559876"};
        QTest::newRow("the first hash counts, two characters after it skipped")
            << "STATS:TOPS;20,x#,,a#02b,c" << QStringList{"a#02b", "c"};
        QTest::newRow("nothing after the hash and its two characters")
            << "STATS:LAST;0#00" << QStringList{};
        QTest::newRow("hash near the end") << "STATS:LAST#0" << QStringList{};
        QTest::newRow("no hash: from the third character")
            << "STATS:LAST,a,b" << QStringList{"ATS:LAST", "a", "b"};
        QTest::newRow("spaces trimmed, inner spaces, tabs and CR LF kept")
            << "STATS:LAST#00  Ann  Lee  ,\t12:01 , 5551234\r\n"
            << QStringList{"Ann  Lee", "\t12:01", "5551234\r\n"};
        QTest::newRow("empty fields from adjacent and final commas")
            << "STATS:LAST#00a,,b, " << QStringList{"a", "", "b", ""};
        QTest::newRow("non-ASCII kept") << "STATS:LAST#00Jos\u00e9 Garc\u00eda,\u00d8"
                                        << QStringList{"Jos\u00e9 Garc\u00eda", "\u00d8"};
    }
    void fields()
    {
        QFETCH(QString, reply);
        QFETCH(QStringList, fields);
        QCOMPARE(protocol::statsFields(reply), fields);
    }
};

QTEST_GUILESS_MAIN(TestStatsReply)
#include "tst_statsreply.moc"
