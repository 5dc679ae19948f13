#include "session/messageassembler.h"

#include <QTest>

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
};

QTEST_GUILESS_MAIN(TestAssembler)
#include "tst_assembler.moc"
