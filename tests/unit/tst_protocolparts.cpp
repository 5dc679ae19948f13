// The client's pure parts: messages put back together from reads, the retry schedule,
// the missed-calls list and the platform asked of Qt.

#include "session/linkpace.h"
#include "session/messageassembler.h"
#include "session/missedcalls.h"
#include "session/reconnectplan.h"
#include "session/statedsize.h"
#include "shell/platformchoice.h"

#include <QTest>

using statedsize::Progress;
using Messages = std::vector<QByteArray>;
Q_DECLARE_METATYPE(Progress)
using Pace = std::tuple<qint64, int, int, int, int>; // first byte, minimum, quiet, gap, complete
Q_DECLARE_METATYPE(Pace)

class TestProtocolParts : public QObject {
    Q_OBJECT
private slots:
    // A reply is continued by reads of no known prefix and ends with the next message. Short
    // of its stated fields it is known to be short; complete, it is still held, as its last
    // field may go on. Past the size limit it is dropped whole and reported once.
    void assembler()
    {
        MessageAssembler assembler;
        QVERIFY(assembler.feed("CNTAC:SEAR;a").messages.empty());
        QVERIFY(assembler.feed(",b").messages.empty());
        QCOMPARE(assembler.feed("PING_:7").messages, (Messages{"CNTAC:SEAR;a,b", "PING_:7"}));
        (void)assembler.feed("STATS:one");
        QCOMPARE(assembler.feed("STATS:two").messages, Messages{"STATS:one"});
        QCOMPARE(assembler.takeHeld(), QByteArray("STATS:two"));
        QVERIFY(assembler.feed("continues nothing").messages.empty() && !assembler.holding());

        for (const char* part : {"STATS:TOPS;2#02a,", "b,"})
            QVERIFY(assembler.feed(part).messages.empty() && assembler.heldShort());
        QVERIFY(assembler.feed("c,1").messages.empty() && assembler.heldComplete());
        QVERIFY(assembler.feed("23").messages.empty());
        QCOMPARE(assembler.takeHeld(), QByteArray("STATS:TOPS;2#02a,b,c,123"));
        // More than stated is no short reply.
        QVERIFY(assembler.feed("STATS:LAST;1#03x,y,z,w").messages.empty());
        QVERIFY(!assembler.heldShort() && !assembler.heldComplete());
        (void)assembler.takeHeld();

        const QByteArray chunk(MessageAssembler::MaxMessageSize / 4, 'x');
        (void)assembler.feed("STATS:" + chunk);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(assembler.feed(chunk).droppedBytes, qsizetype(0));
        QCOMPARE(assembler.feed(chunk).droppedBytes, 4 * chunk.size() + 6);
        QCOMPARE(assembler.feed(chunk).droppedBytes, qsizetype(0)); // the rest goes quietly
        QCOMPARE(assembler.feed("PING_:").messages.size(), size_t(1));
    }

    void statedSize_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Progress>("progress");
        const auto row = [](const char* reply, Progress progress) {
            QTest::newRow(reply) << QByteArray(reply) << progress;
        };
        row("STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,555-2", Progress::Complete);
        row("STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05", Progress::Pending);
        row("STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,", Progress::Pending);
        row("STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,555-2,x", Progress::Exceeded);
        row("STATS:UNKN;1#03,, ", Progress::Complete);
        row("STATS:LAST;0#03", Progress::Complete);
        row("STATS:LAST;0#03x", Progress::Exceeded);
        row("STATS:TOPS;001#02a,b", Progress::Complete);
        row("STATS:LAST;2#0", Progress::Pending);
        row("STATS:LAST#00a,b", Progress::Unstated);
        row("STATS:TOPS;20,x#,,7,Ann", Progress::Unstated);
        row("STATS:LAST;+1#01a", Progress::Unstated);
        row("STATS:LAST;1#0xa", Progress::Unstated);
        // The most fields a reply within the size limit holds, and a record more.
        row("STATS:CNTS;8388608#02a", Progress::Pending);
        row("STATS:CNTS;8388609#02a", Progress::Unstated);
        row("STATS:LAST;999999999999999999#99a", Progress::Unstated);
        row("CNTAC:SEAR;Ann,1,2,3,4,5,7", Progress::Unstated);
    }
    void statedSize()
    {
        QFETCH(QByteArray, reply);
        QFETCH(Progress, progress);
        QCOMPARE(statedsize::progress(reply), progress);
        // Followed read by read, every prefix gets the answer the prefix alone gets.
        statedsize::Tracker tracker;
        for (qsizetype k = 1; k <= reply.size(); ++k)
            QCOMPARE(tracker.update(reply.left(k)), statedsize::progress(reply.left(k)));
    }

    // A reply that states no size (or is still short) waits quietMs; one that holds all it
    // states waits completeMs, after reads up to gapMs apart.
    void quietTimeFollowsTheLink_data()
    {
        QTest::addColumn<Pace>("p");
        QTest::newRow("local") << Pace{2, 30, 30, 0, LinkPace::MinimumCompleteMs};
        QTest::newRow("15 ms") << Pace{15, 30, 30, 4, 8};
        QTest::newRow("1 s") << Pace{1000, 30, 2000, 100, 200};
        QTest::newRow("a minute") << Pace{60000, 30, 2000, 60000, 2000};
        QTest::newRow("gaps above the quiet") << Pace{0, 30, 30, 400, 30};
        QTest::newRow("minimum above the cap") << Pace{80, 60000, 60000, 5, 10};
    }
    void quietTimeFollowsTheLink()
    {
        QFETCH(Pace, p);
        const auto [firstByteMs, minimumMs, quietMs, gapMs, completeMs] = p;
        LinkPace pace;
        pace.setMinimum(minimumMs);
        pace.requestSent(1000);
        pace.replyBegan(1000 + firstByteMs);
        pace.replyBegan(9000); // a second reply to the same request is not measured
        QCOMPARE(pace.quietMs(), quietMs);
        for (const qint64 at : {0, gapMs, gapMs + 1}) // the longest gap counts
            pace.replyRead(100000 + at, at == 0);
        QCOMPARE(pace.completeQuietMs(), completeMs);
        pace.replyRead(200000, true); // the next reply's gaps are its own
        QCOMPARE(pace.completeQuietMs(), std::min(LinkPace::DefaultMinimumMs, quietMs));
        QCOMPARE(pace.completeQuietMs(40), std::min(80, quietMs)); // a round trip of 40 ms
    }

    // 1, 2, 4, 8, 16, 32 s, then a minute each time; a fifth either way at the most.
    void schedule()
    {
        QList<int> plain;
        for (int attempt : {1, 2, 3, 4, 5, 6, 7, 8, 100000})
            plain << reconnectplan::delayMilliseconds(attempt, 0.0);
        QCOMPARE(plain, (QList<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
        QCOMPARE(reconnectplan::delayMilliseconds(1, -1.0), 800);
        QCOMPARE(reconnectplan::delayMilliseconds(9, 5.0), 72000); // clamped to a fifth
        QCOMPARE(reconnectplan::secondsLeft(7001), 8);
        // Only a network that was gone and is back hurries the retry: not the watcher's
        // first word, nor the internet flickering on a network that stayed.
        using R = QNetworkInformation::Reachability;
        QVERIFY(reconnectplan::networkCameBack(R::Disconnected, R::Site));
        QVERIFY(!reconnectplan::networkCameBack(R::Unknown, R::Online));
        QVERIFY(!reconnectplan::networkCameBack(R::Site, R::Online));
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

    // In a Wayland session with X at hand the client asks for X, where the pop-up keeps its
    // place; without X it runs on Wayland and says so. A platform the user named stays.
    void platformChoice_data() // environment | arguments | platform asked for, and "log"
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("wayland and X") << "WAYLAND_DISPLAY=w DISPLAY=:0 | | xcb";
        QTest::newRow("session") << "XDG_SESSION_TYPE=wayland DISPLAY=:0 | | xcb";
        QTest::newRow("wayland only") << "WAYLAND_DISPLAY=w DISPLAY= | | wayland log";
        QTest::newRow("X only") << "DISPLAY=:0 XDG_SESSION_TYPE=x11 | |";
        QTest::newRow("named") << "WAYLAND_DISPLAY=w QT_QPA_PLATFORM=wayland | | log";
        QTest::newRow("on the command line, the last")
            << "WAYLAND_DISPLAY=w DISPLAY=:0 QT_QPA_PLATFORM=wayland"
               " | -style fusion -platform wayland --platform offscreen |";
        QTest::newRow("not Qt's way")
            << "WAYLAND_DISPLAY=w DISPLAY=:0 | -platform=wayland -platform | xcb";
    }
    void platformChoice()
    {
        QFETCH(QString, row);
        QProcessEnvironment env;
        for (const QString& pair : row.section('|', 0, 0).split(' ', Qt::SkipEmptyParts))
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        const PlatformChoice choice = choosePlatform(
            env, ("client " + row.section('|', 1, 1)).split(' ', Qt::SkipEmptyParts));
        QCOMPARE((choice.platform + (choice.nativeWayland ? " log" : "")).trimmed(),
                 row.section('|', 2).trimmed());
    }
};

QTEST_GUILESS_MAIN(TestProtocolParts)
#include "tst_protocolparts.moc"
