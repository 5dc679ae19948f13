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
        QTest::newRow("top") << "STATS:TOPS" << int(StatsKind::TopCallers);
        QTest::newRow("contacts") << "STATS:CNTS;00#01x" << int(StatsKind::ContactList);
        QTest::newRow("other") << "STATS:XXXX#00a,b" << int(StatsKind::Other);
        QTest::newRow("lower case") << "STATS:last#00a" << int(StatsKind::Other);
        QTest::newRow("nine characters") << "STATS:LAS" << int(StatsKind::Other);
        QTest::newRow("empty") << "" << int(StatsKind::Other);
        QTest::newRow("leading space") << " STATS:LAST" << int(StatsKind::Other);
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
        QTest::newRow("text before the hash is skipped")
            << "STATS:TOPS;20,x,y#01a,b" << QStringList{"a", "b"};
        QTest::newRow("the first hash counts")
            << "STATS:TOPS;20#01a#02b,c" << QStringList{"a#02b", "c"};
        QTest::newRow("two characters after the hash are skipped, whatever they are")
            << "STATS:LAST#,,a" << QStringList{"a"};
        QTest::newRow("nothing after the hash and its two characters")
            << "STATS:LAST;0#00" << QStringList{};
        QTest::newRow("hash with one character after it") << "STATS:LAST#0" << QStringList{};
        QTest::newRow("hash last") << "STATS:LAST#" << QStringList{};
        QTest::newRow("no hash: from the third character")
            << "STATS:LAST,a,b" << QStringList{"ATS:LAST", "a", "b"};
        QTest::newRow("spaces trimmed, CR LF and tabs kept")
            << "STATS:LAST#00  Ann  ,\t12:01 , 5551234\r\n"
            << QStringList{"Ann", "\t12:01", "5551234\r\n"};
        QTest::newRow("inner spaces kept") << "STATS:LAST#00 Ann  Lee " << QStringList{"Ann  Lee"};
        QTest::newRow("empty fields from adjacent and final commas")
            << "STATS:LAST#00a,,b," << QStringList{"a", "", "b", ""};
        QTest::newRow("a single comma gives two empty fields")
            << "STATS:LAST#00," << QStringList{"", ""};
        QTest::newRow("only spaces becomes empty") << "STATS:LAST#00   ,x" << QStringList{"", "x"};
        QTest::newRow("non-ASCII kept") << "STATS:LAST#00Jos\u00e9 Garc\u00eda,\u00d8"
                                        << QStringList{"Jos\u00e9 Garc\u00eda", "\u00d8"};
    }
    void fields()
    {
        QFETCH(QString, reply);
        QFETCH(QStringList, fields);
        QCOMPARE(protocol::statsFields(reply), fields);
    }

    void largeReplyKeepsEveryField()
    {
        // 10,000 contact records of nine fields each: no field lost or merged.
        QString reply = QStringLiteral("STATS:TOPS;10000#00");
        for (int i = 0; i < 10000; ++i) {
            if (i > 0)
                reply += QLatin1Char(',');
            reply += QStringLiteral("%1,Name %1,1,2,3,4,m%1@example.org,%2,0").arg(i).arg(i % 7);
        }
        const QStringList fields = protocol::statsFields(reply);
        QCOMPARE(fields.size(), 90000);
        QCOMPARE(fields.at(9 * 4711), QStringLiteral("4711"));
        QCOMPARE(fields.at(9 * 4711 + 6), QStringLiteral("m4711@example.org"));
        QCOMPARE(fields.last(), QStringLiteral("0"));
    }
};

QTEST_GUILESS_MAIN(TestStatsReply)
#include "tst_statsreply.moc"
