// The retry schedule and the missed-calls list, on their own.

#include "session/missedcalls.h"
#include "session/reconnectplan.h"

#include <QTest>

class TestReconnect : public QObject {
    Q_OBJECT
private slots:
    void attempts_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("attempts");
        QTest::newRow("empty") << "" << 5;
        QTest::newRow("three") << "3" << 3;
        QTest::newRow("spaces") << " 7 " << 7;
        QTest::newRow("no limit") << "0" << reconnectplan::Unlimited;
        QTest::newRow("letters") << "five" << 5;
        QTest::newRow("negative") << "-2" << 5;
        QTest::newRow("fraction") << "2.5" << 5;
        QTest::newRow("too large") << "99999999999" << 5;
        QTest::newRow("nine digits") << "999999999" << 999999999;
    }
    void attempts()
    {
        QFETCH(QString, setting);
        QFETCH(int, attempts);
        QCOMPARE(reconnectplan::attemptsFrom(setting), attempts);
    }

    // 1, 2, 4, 8, 16, 32 s, then a minute each time; a fifth either way at the most.
    void schedule()
    {
        QList<int> plain, shortest, longest;
        for (int attempt : {1, 2, 3, 4, 5, 6, 7, 8, 100000}) {
            plain << reconnectplan::delayMilliseconds(attempt, 0.0);
            shortest << reconnectplan::delayMilliseconds(attempt, -1.0);
            longest << reconnectplan::delayMilliseconds(attempt, 5.0); // clamped to 1
        }
        QCOMPARE(plain, (QList<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
        QCOMPARE(shortest.first(), 800);
        QCOMPARE(shortest.last(), 48000);
        QCOMPARE(longest.first(), 1200);
        QCOMPARE(longest.last(), 72000);
        QCOMPARE(reconnectplan::attemptText(3, 5), QString("attempt 3 of 5"));
        QCOMPARE(reconnectplan::attemptText(12, reconnectplan::Unlimited), QString("attempt 12"));
        QCOMPARE(reconnectplan::secondsLeft(7001), 8);
        QCOMPARE(reconnectplan::secondsLeft(-5), 0);
    }

    // Calls between the last seen before the loss and the first seen after the
    // reconnect, oldest first; calls of those two seconds count unless they were seen.
    void missedCalls_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("between the marks")
            << "STATS:LAST;7#03Eve,2026-12-06 14:06:00,555-8,Dan,2026-12-06 14:05:00,555-7,"
               "Cy,2026-12-06 14:05:00,555-6,Clara O'Brien,2026-12-06 14:03:10,555-1319,"
               "Ann,2026-12-06 14:00:00,555-1,Bo,2026-12-06 14:00:00,555-3,"
               "Bob,2026-12-06 13:59:59,555-2"
            << QStringList{"Missed while disconnected: 14:00 555-3 Bo",
                           "Missed while disconnected: 14:03 555-1319 Clara O'Brien",
                           "Missed while disconnected: 14:05 555-6 Cy"};
        QTest::newRow("another kind")
            << "STATS:UNKN;1#03Ann,2026-12-06 14:30:00,555-1" << QStringList();
        QTest::newRow("unreadable time, cut record")
            << "STATS:LAST;2#03Ann,yesterday,555-1,Bob,2026-12-06 14:01:00" << QStringList();
        QTest::newRow("no fields") << "STATS:LAST;0#03" << QStringList();
    }
    void missedCalls()
    {
        QFETCH(QString, reply);
        QFETCH(QStringList, lines);
        missedcalls::Marks marks;
        marks.since = "2026-12-06 14:00:00";
        marks.seenSince = {missedcalls::key(marks.since, "555-1")};
        marks.sawAfter("2026-12-06 14:05:00", "555-7 "); // as the pop-up got it
        QCOMPARE(missedcalls::lines(missedcalls::calls(reply), marks), lines);
        marks.since.clear(); // no moment known
        QCOMPARE(missedcalls::lines(missedcalls::calls(reply), marks), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestReconnect)
#include "tst_reconnect.moc"
