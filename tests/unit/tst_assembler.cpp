#include "session/linkpace.h"
#include "session/messageassembler.h"
#include "session/statedsize.h"

#include <QTest>

using statedsize::Progress;

Q_DECLARE_METATYPE(Progress)

class TestAssembler : public QObject {
    Q_OBJECT
private slots:
    void replyIsHeldAndContinued()
    {
        MessageAssembler assembler;
        QVERIFY(assembler.feed("STATS:LAST;#01,a,").messages.empty());
        QVERIFY(assembler.holding());
        QVERIFY(assembler.feed("b,c#02").messages.empty());
        QCOMPARE(assembler.takeHeld(), QByteArray("STATS:LAST;#01,a,b,c#02"));
        QVERIFY(!assembler.holding());
    }

    void nextMessageCompletesHeldReply()
    {
        MessageAssembler assembler;
        (void)assembler.feed("CNTAC:SEAR;a");
        (void)assembler.feed(",b");
        const auto result = assembler.feed("PING_:7");
        QCOMPARE(result.messages.size(), size_t(2));
        QCOMPARE(result.messages[0], QByteArray("CNTAC:SEAR;a,b"));
        QCOMPARE(result.messages[1], QByteArray("PING_:7"));

        (void)assembler.feed("STATS:one");
        const auto second = assembler.feed("STATS:two");
        QCOMPARE(second.messages.size(), size_t(1));
        QCOMPARE(second.messages[0], QByteArray("STATS:one"));
        QCOMPARE(assembler.takeHeld(), QByteArray("STATS:two"));
    }

    void oversizedReplyDroppedWhole()
    {
        MessageAssembler assembler;
        const QByteArray chunk(4 * 1024 * 1024, 'x');
        (void)assembler.feed("STATS:" + chunk);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(assembler.feed(chunk).droppedBytes, qsizetype(0));
        const auto overflow = assembler.feed(chunk);
        QVERIFY(overflow.droppedBytes > MessageAssembler::MaxMessageSize);
        QVERIFY(!assembler.holding());
        // The rest of that reply is dropped quietly; the next message is fine again.
        const auto rest = assembler.feed(chunk);
        QCOMPARE(rest.droppedBytes, qsizetype(0));
        QVERIFY(!assembler.holding());
        QCOMPARE(assembler.feed("PING_:").messages.size(), size_t(1));
        (void)assembler.feed("STATS:ok");
        QCOMPARE(assembler.takeHeld(), QByteArray("STATS:ok"));
    }

    void statedSize_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Progress>("progress");
        const auto row = [](const char* name, const QByteArray& reply, Progress progress) {
            QTest::newRow(name) << reply << progress;
        };
        row("exact", "STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,555-2", Progress::Complete);
        row("one field short", "STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05", Progress::Pending);
        row("last field not begun", "STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,", Progress::Pending);
        row("one field too many", "STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,555-2,x",
            Progress::Exceeded);
        row("empty fields count", "STATS:UNKN;1#03,, ", Progress::Complete);
        row("single field", "STATS:CNTS;1#01x", Progress::Complete);
        row("no records", "STATS:LAST;0#03", Progress::Complete);
        row("no records, yet a field", "STATS:LAST;0#03x", Progress::Exceeded);
        row("no fields per record, yet a field", "STATS:TOPS;5#00x", Progress::Exceeded);
        row("leading zeros", "STATS:TOPS;001#02a,b", Progress::Complete);
        row("kind cut short", "STATS:LA", Progress::Pending);
        row("count cut short", "STATS:LAST;2", Progress::Pending);
        row("fields per record cut short", "STATS:LAST;2#0", Progress::Pending);
        row("no semicolon", "STATS:LAST#00a,b", Progress::Unstated);
        row("count not a number", "STATS:TOPS;20,x#,,7,Ann", Progress::Unstated);
        row("empty count", "STATS:LAST;#01,a,", Progress::Unstated);
        row("signed count", "STATS:LAST;+1#01a", Progress::Unstated);
        row("space in count", "STATS:LAST; 1#01a", Progress::Unstated);
        row("fields per record not a number", "STATS:LAST;1#0xa", Progress::Unstated);
        row("fields per record with a comma", "STATS:LAST;1#,3a", Progress::Unstated);
        // The most fields a message within the size limit can hold (each but the last
        // needs a comma), and one record more than that.
        row("largest count that fits", "STATS:CNTS;8388608#02a", Progress::Pending);
        row("count beyond the size limit", "STATS:CNTS;8388609#02a", Progress::Unstated);
        row("count that overflows 64 bits", "STATS:LAST;99999999999999999999#03a",
            Progress::Unstated);
        row("18 nines times 99", "STATS:LAST;999999999999999999#99a", Progress::Unstated);
        row("contacts reply", "CNTAC:SEAR;Ann,1,2,3,4,5,7", Progress::Unstated);
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

    // A statistics reply is known to be short until every field it states has begun; it
    // is handed on only when the caller's quiet time ends (its last field has no end
    // mark) or the next message begins.
    void replyShortOfItsStatedSize()
    {
        MessageAssembler assembler;
        QVERIFY(assembler.feed("STATS:TOPS;2#02a,").messages.empty());
        QCOMPARE(assembler.heldStatsBytes(), qsizetype(17));
        QVERIFY(assembler.heldShort());
        QVERIFY(assembler.feed("b,").messages.empty());
        QVERIFY(assembler.heldShort());
        QVERIFY(assembler.feed("c,1").messages.empty());
        QVERIFY(!assembler.heldShort() && assembler.heldComplete());
        // The last field goes on in the next read, and is not cut.
        QVERIFY(assembler.feed("23").messages.empty());
        QCOMPARE(assembler.takeHeld(), QByteArray("STATS:TOPS;2#02a,b,c,123"));
        // A reply of no records, ended by the next message.
        assembler.feed("STATS:LAST;0#03");
        QVERIFY(!assembler.heldShort());
        QCOMPARE(assembler.feed("PING_:1").messages,
                 (std::vector<QByteArray>{"STATS:LAST;0#03", "PING_:1"}));
        // More than stated is no short reply; a contacts reply states no size.
        QVERIFY(assembler.feed("STATS:LAST;1#03x,y,z,w").messages.empty());
        QVERIFY(!assembler.heldShort() && !assembler.heldComplete());
        QVERIFY(assembler.feed("CNTAC:SEAR;a,1,2").messages.size() == 1);
        QCOMPARE(assembler.heldStatsBytes(), qsizetype(0));
        QVERIFY(assembler.holding() && !assembler.heldShort() && !assembler.heldComplete());
    }

    // A reply that states no size (or is still short) waits quietMs; one that holds all it
    // states waits completeMs, after reads up to gapMs apart.
    void quietTimeFollowsTheLink_data()
    {
        QTest::addColumn<qint64>("firstByteMs");
        QTest::addColumn<int>("minimumMs");
        QTest::addColumn<int>("quietMs");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("completeMs");
        QTest::newRow("local") << qint64(2) << 30 << 30 << 0 << LinkPace::MinimumCompleteMs;
        QTest::newRow("15 ms") << qint64(15) << 30 << 30 << 4 << 8;
        QTest::newRow("server thinks")
            << qint64(80) << 30 << 160 << 1 << LinkPace::MinimumCompleteMs;
        QTest::newRow("1 s") << qint64(1000) << 30 << 2000 << 100 << 200;
        QTest::newRow("a minute") << qint64(60000) << 30 << 2000 << 60000 << 2000;
        QTest::newRow("gaps above the quiet") << qint64(0) << 30 << 30 << 400 << 30;
        QTest::newRow("minimum above the cap") << qint64(80) << 60000 << 60000 << 5 << 10;
    }
    void quietTimeFollowsTheLink()
    {
        QFETCH(qint64, firstByteMs);
        QFETCH(int, minimumMs);
        QFETCH(int, quietMs);
        QFETCH(int, gapMs);
        QFETCH(int, completeMs);
        QCOMPARE(LinkPace::quietFor(firstByteMs, minimumMs), quietMs);
        LinkPace pace;
        pace.setMinimum(minimumMs);
        pace.requestSent(1000);
        pace.replyBegan(1000 + firstByteMs);
        QCOMPARE(pace.quietMs(), quietMs);
        for (const qint64 at : {0, gapMs, gapMs + 1}) // the longest gap counts
            pace.replyRead(100000 + at, at == 0);
        QCOMPARE(pace.completeQuietMs(), completeMs);
        pace.replyRead(200000, true); // the next reply's gaps are its own
        QCOMPARE(pace.completeQuietMs(), std::min(LinkPace::DefaultMinimumMs, quietMs));
        QCOMPARE(pace.completeQuietMs(40), std::min(80, quietMs)); // a round trip of 40 ms
    }

    void onlyTheFirstReplyAfterARequestIsMeasured()
    {
        LinkPace pace;
        QCOMPARE(pace.quietMs(), LinkPace::DefaultMinimumMs);
        pace.replyBegan(500); // nothing asked for
        QCOMPARE(pace.quietMs(), LinkPace::DefaultMinimumMs);
        pace.requestSent(1000);
        pace.requestSent(1100); // measured from the latest request
        pace.replyBegan(1200);
        QCOMPARE(pace.quietMs(), 200);
        pace.replyBegan(9000); // a second reply to the same request
        QCOMPARE(pace.quietMs(), 200);
        pace.requestSent(10000);
        pace.replyBegan(10005);
        QCOMPARE(pace.quietMs(), LinkPace::DefaultMinimumMs);
    }
};

QTEST_GUILESS_MAIN(TestAssembler)
#include "tst_assembler.moc"
