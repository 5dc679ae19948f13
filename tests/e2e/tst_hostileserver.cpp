// A scripted hostile server against the real client over real sockets: floods of
// greetings under a real modal box, floods of calls, a contact list of a million and a
// half IDs, a statistics reply far bigger than asked for, a server that never reads, a
// reset in the middle of a reply. The client must survive each with its memory bounded
// and nothing of the bad input kept.

#include "session/dispatcher.h"
#include "session/messageassembler.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "statistics/statslayout.h"
#include "testsupport.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using testsupport::boxes;
using testsupport::logMessages;
using testsupport::RealModalBoxes;
using testsupport::residentMiB;

namespace {

// Memory grown since `before`, within the bound (where memory figures hold).
bool grewLessThan(qint64 before, qint64 boundMiB)
{
    const qint64 grown = residentMiB() - before;
    qInfo("memory grew by %lld MiB (bound %lld MiB)", grown, boundMiB);
    return grown < boundMiB || !testsupport::MemoryFiguresHold;
}

} // namespace

class TestHostileServer final : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::LoopbackServer> m_server;

    // Sends each piece as its own read of the client's.
    bool sendEachAlone(const QList<QByteArray>& pieces)
    {
        QSignalSpy arrived(&frmMain()->sckConnect(), &Session::dataArrived);
        for (const QByteArray& piece : pieces) {
            const qsizetype before = arrived.size();
            m_server->send(piece);
            if (!QTest::qWaitFor([&] { return arrived.size() > before; }))
                return false;
        }
        return true;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::LoopbackServer>();
    }
    void cleanup()
    {
        testsupport::unloadAllWindows();
        m_server.reset();
        m_env.reset();
    }

    // Refused greetings, each its own read, while the first one's box is open: one box,
    // nothing more handled, and the client goes on. Then accepted greetings again and
    // again on a new connection: the password goes once.
    void greetingFloods()
    {
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), QStringLiteral("secret"));
        QVERIFY(testsupport::connectMainWindow(*m_server));
        const qint64 before = residentMiB();
        bool flooded = false;
        {
            RealModalBoxes real(50, [&](const MsgBoxCall&) {
                flooded = sendEachAlone(
                    QList<QByteArray>(3000, QByteArray("Welcome to Quillora Server [0.10]")));
            });
            m_server->send("Welcome to Quillora Server [0.10]");
            QVERIFY(QTest::qWaitFor([] { return !boxes().isEmpty() && !RealModalBoxes::open(); },
                                    60000));
        }
        QVERIFY(flooded);
        QCOMPARE(boxes().size(), 1);
        QVERIFY(grewLessThan(before, 50));
        QVERIFY(m_server->waitForDisconnect());

        QVERIFY(testsupport::connectMainWindow(*m_server));
        QVERIFY(sendEachAlone(QList<QByteArray>(500, QByteArray("Welcome [0.92]"))));
        QVERIFY(m_server->waitForReceived(6));
        QTest::qWait(50);
        QCOMPARE(m_server->received(), QByteArray("secret"));
        QCOMPARE(boxes().size(), 1);
    }

    // Five thousand calls of 4 KB: the log keeps its newest lines and memory stays put.
    void aFloodOfLargeCalls()
    {
        FrmMain* main = frmMain();
        main->chkDebug->click(); // the log pane shown, as a user reading it would have it
        QVERIFY(testsupport::connectMainWindow(*m_server));
        const QByteArray filler(4000, 'x');
        const qint64 before = residentMiB();
        QList<QByteArray> calls;
        for (int i = 0; i < 5000; ++i)
            calls << "CALL_:2026-01-01 10:00:00,555-" + QByteArray::number(i) + ",Caller " + filler;
        QVERIFY(sendEachAlone(calls));
        QVERIFY(QTest::qWaitFor([] {
            return logMessages().value(0).startsWith("CALL_:2026-01-01 10:00:00,555-4999,");
        }));
        const QStringList lines = main->logLines();
        QVERIFY(lines.join('\n').size() <= FrmMain::MaxLogCharacters);
        QVERIFY(lines.size() > 50);
        // Before the log was bounded, this grew by some 400 MiB.
        QVERIFY(grewLessThan(before, 60));
        QVERIFY(main->sckConnect().isConnected());
    }

    // A contact list of a million and a half IDs, as big as a reply may be.
    void aHugeContactList()
    {
        QVERIFY(testsupport::connectMainWindow(*m_server));
        QByteArray reply = "CNTAC:SEAR;Ann,1,2,3,4,5,1000000";
        reply.reserve(12 * 1024 * 1024);
        for (int i = 0; i < 1500000; ++i)
            reply += ',' + QByteArray::number(1000000 + i);
        const qint64 before = residentMiB();
        m_server->send(reply);
        QVERIFY(
            QTest::qWaitFor([] { return modVariables().ContactRecords.size() == 1500000; }, 20000));
        QTest::qWait(100);
        // Held as strings, the IDs alone took some 146 MiB.
        QVERIFY(grewLessThan(before, 100));
        QCOMPARE(modVariables().ContactRecords.at(1499999), QString::number(2499999));
    }

    // 16 MiB of empty fields answering the query for ten last calls, or the contact list:
    // the grid takes the records asked for (or as many as it holds at most), keep-alives
    // are answered at once, and memory stays bounded while it is shown and after closing.
    void aStatisticsReplyFarBiggerThanAsked_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("records");
        QTest::newRow("contact list")
            << 3 << QByteArray("STATS:CNTS;0#09") << statslayout::MaxRecords;
        QTest::newRow("last calls 10") << 0 << QByteArray("STATS:LAST;10#03") << 10;
    }
    void aStatisticsReplyFarBiggerThanAsked()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, header);
        QFETCH(int, records);
        FrmMain* main = frmMain();
        QVERIFY(testsupport::connectMainWindow(*m_server));
        main->sckConnect().setQuietInterval(60000); // the reply ends with the ping after it
        main->StatisticsStatistics->trigger();
        const QPointer<FrmStatistics> w = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(w);
        const auto pongWithinASecond = [this] {
            m_server->clearReceived();
            m_server->send("PING_:7");
            return m_server->waitForReceived(7, 1000) && m_server->received() == "PONG_:7";
        };
        const QByteArray reply =
            header + QByteArray(MessageAssembler::MaxMessageSize - header.size(), ',');
        const qint64 before = residentMiB();
        w->optStatMode[mode]->click();
        w->cmdQuery->click();
        m_server->send(reply);
        QVERIFY(QTest::qWaitFor([&] { return main->sckConnect().heldStatsBytes() == reply.size(); },
                                20000));
        QVERIFY(pongWithinASecond()); // and ends the reply
        QVERIFY(QTest::qWaitFor([&] { return w->Frame1->isEnabled(); }, 60000));
        QCOMPARE(w->MSFlexGrid1->grid().rows(), records + 2);
        // Split whole, with a row for every three fields, it kept some 500 MiB more.
        QVERIFY(grewLessThan(before, 100));
        w->cmdButton->click();
        QVERIFY(QTest::qWaitFor([&] { return w.isNull(); }));
        QVERIFY(grewLessThan(before, 10));
        QVERIFY(pongWithinASecond());
    }

    // A server that sends large keep-alive probes and never reads the answers: once more
    // than a few MiB wait to be sent, the connection is given up as failed.
    void aServerThatNeverReads()
    {
        QTcpServer deaf;
        QVERIFY(deaf.listen(QHostAddress::LocalHost));
        QVERIFY(testsupport::connectMainWindowTo(deaf.serverPort()));
        QVERIFY(deaf.hasPendingConnections() || deaf.waitForNewConnection(5000));
        QTcpSocket* peer = deaf.nextPendingConnection();
        peer->setReadBufferSize(1); // takes a byte, then leaves the rest in the kernel
        const QByteArray probe = "PING_:" + QByteArray(1024 * 1024, '7');
        const qint64 before = residentMiB();
        FrmMain* main = frmMain();
        int sent = 0;
        for (; sent < 64 && main->sckConnect().isConnected(); ++sent) {
            peer->write(probe);
            QVERIFY(QTest::qWaitFor([peer] { return peer->bytesToWrite() == 0; }));
            QTest::qWait(60); // past the quiet time: each probe its own message
        }
        QVERIFY(QTest::qWaitFor([] {
            return logMessages().contains(
                "Error: 4 Description: More than 4 MiB wait to be sent: the server does not "
                "read.");
        }));
        QCOMPARE(logMessages().first(), QString("Disconnected."));
        qInfo("given up after %d probes of 1 MiB", sent);
        QVERIFY(sent < 64);
        QVERIFY(grewLessThan(before, 64));
    }

    // A reset halfway through a statistics reply: the error is reported and the part
    // that came is not taken for the whole.
    void aResetInTheMiddleOfAReply()
    {
        FrmMain* main = frmMain();
        QVERIFY(testsupport::connectMainWindow(*m_server));
        m_server->send("Welcome [0.92]");
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }));
        QByteArray half = "STATS:LAST;1000#03";
        for (int i = 0; i < 400; ++i)
            half += "Name " + QByteArray::number(i) + ",2026-01-01 10:00:00,555-0100,";
        m_server->send(half);
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().heldStatsBytes() > 0; }));
        m_server->resetClient();
        QVERIFY(QTest::qWaitFor([] {
            return logMessages().contains(
                "Error: 1 Description: The connection was reset by the server.");
        }));
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::False);
        QVERIFY(!main->sckConnect().isConnected());
    }
};

QTEST_MAIN(TestHostileServer)
#include "tst_hostileserver.moc"
