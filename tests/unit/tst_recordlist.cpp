// Record IDs held as numbers where they are plain decimals, as text otherwise: each entry
// reads back and compares exactly as the server wrote it.

#include "contacts/contactsprotocol.h"

#include <QTest>

using contacts::RecordList;

class TestRecordList : public QObject {
    Q_OBJECT
private slots:
    void entriesReadBackAsWritten()
    {
        const QStringList entries{"57",
                                  "-3",
                                  "0",
                                  "-0",
                                  "007",
                                  "+5",
                                  "",
                                  "NEW",
                                  "x,y",
                                  "9223372036854775807",
                                  "-9223372036854775808",
                                  "9223372036854775808",
                                  "99999999999999999999",
                                  QString::fromUtf8("12\u00e9")};
        const RecordList list = RecordList::fromStrings(entries);
        QCOMPARE(list.toStringList(), entries);
        QCOMPARE(list, RecordList::fromStrings(entries));
        QVERIFY(list != RecordList::fromStrings(entries.mid(1)));
    }

    // A shown ID finds only the entries whose text is the same: "7" is not "007".
    void entriesCompareByTheirText()
    {
        const RecordList list{"7", "007", "7", "x", "-0", "0"};
        const auto positions = [&list](const QString& text) {
            QList<qsizetype> found;
            const RecordList::Key key(text);
            for (qsizetype i = 0; i < list.size(); ++i) {
                if (list.matches(i, key))
                    found << i;
            }
            return found;
        };
        QCOMPARE(positions("7"), (QList<qsizetype>{0, 2}));
        QCOMPARE(positions("007"), QList<qsizetype>{1});
        QCOMPARE(positions("x"), QList<qsizetype>{3});
        QCOMPARE(positions("-0"), QList<qsizetype>{4});
        QCOMPARE(positions("0"), QList<qsizetype>{5});
        QCOMPARE(positions(" 7"), QList<qsizetype>{});
        QCOMPARE(contacts::viewingPosition(list, "7"), 3);
        QCOMPARE(contacts::browseTarget(list, "7", contacts::Direction::Next).error,
                 QString("The record ID \"x\" is not a number."));
        QCOMPARE(contacts::browseTarget(list, "007", contacts::Direction::Back).id, 7);
    }

    // A reply with a million IDs is taken apart in place.
    void aLongReply()
    {
        QString message = "CNTAC:SEAR;Ann,1,2,3,4,5,42";
        for (int i = 0; i < 1000000; ++i)
            message += ',' + QString::number(i * 7);
        const contacts::Reply reply = contacts::parseReply(message);
        QCOMPARE(reply.kind, contacts::Reply::Kind::Records);
        QCOMPARE(reply.id, QString("42"));
        QCOMPARE(reply.records.size(), 1000000);
        QCOMPARE(reply.records.at(999999), QString::number(999999 * 7));
        QCOMPARE(contacts::viewingPosition(reply.records, "42"), 7);
    }
};

QTEST_MAIN(TestRecordList)
#include "tst_recordlist.moc"
