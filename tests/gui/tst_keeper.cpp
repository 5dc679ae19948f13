// Keeping the connection against a loopback server (real server: e2e/tst_clientserver):
// retries, the user's clicks, giving up, refusals, missed calls, whose reply is whose.

#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using testsupport::boxes;
using testsupport::logMessages;
using testsupport::RealModalBoxes;

namespace {

constexpr char Greeting[] = "Welcome to Quillora Server [0.92]";
constexpr int RefusalMs = 200;

// Waits until the newest log line matches.
bool logged(const QString& pattern)
{
    const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
    return QTest::qWaitFor([&] { return expression.match(logMessages().value(0)).hasMatch(); });
}

bool greeted()
{
    return QTest::qWaitFor([] { return frmMain()->sckConnect().isGreeted(); });
}

QString status()
{
    return frmMain()->statusPanel[0]->text() + "|" + frmMain()->statusPanel[1]->text();
}

// The time of a call that rings after the last word heard (calls are timed to the second).
QString nextSecond()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    (void)QTest::qWaitFor([now] { return QDateTime::currentSecsSinceEpoch() > now; });
    return QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
}

} // namespace

class TestKeeper : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    std::unique_ptr<testsupport::LoopbackServer> server;

    // Connected, greeted and past the time in which a refused password shows.
    FrmMain* settled()
    {
        if (!testsupport::connectMainWindow(*server))
            return nullptr;
        server->send(Greeting);
        if (!greeted())
            return nullptr;
        QTest::qWait(RefusalMs + 50);
        return frmMain();
    }

    bool lost()
    {
        server->closeClient();
        return logged("Reconnecting in .*");
    }

    // Lost and retried: the retry's connection has come and been greeted.
    bool lostAndBack(int connections)
    {
        server->closeClient();
        if (!QTest::qWaitFor([&] { return server->connections() == connections; }))
            return false;
        server->clearReceived();
        server->send(Greeting);
        return greeted();
    }

private slots:
    void init()
    {
        env = std::make_unique<testsupport::Environment>();
        server = std::make_unique<testsupport::LoopbackServer>();
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("True"));
        testsupport::storeSetting(QStringLiteral("ClientReconnectAttemps"), QStringLiteral("2"));
        ConnectionKeeper::times() = {RefusalMs, RefusalMs}; // later losses: no refusal
    }
    void cleanup()
    {
        env.reset();
        server.reset();
        ConnectionKeeper::times() = {};
    }

    // Lost, the countdown ticks only while the status bar can be seen; Connect retries at once,
    // Disconnect stops the retries (got through, it is a plain one). Connect to another server
    // is a new connection: its failure shows the box; once in, no missed calls are asked for.
    void theUserStopsOrHurriesTheRetries()
    {
        ConnectionKeeper::times().delayScale = 5; // no retry of its own before the clicks
        FrmMain* main = settled();
        QVERIFY(main);
        server->closeClient();
        QVERIFY(logged("Reconnecting in [4-6] s \\(attempt 1 of 2\\)\\."));
        QCOMPARE(logMessages()[1], QString("Disconnected."));
        const QRegularExpression waiting("^Reconnecting in [1-6] s\\|attempt 1 of 2$");
        QTRY_VERIFY2(waiting.match(status()).hasMatch(),
                     qPrintable(status() + " after: " + logMessages().mid(0, 4).join(" / ")));
        QSignalSpy ticks(&main->keeper(), &ConnectionKeeper::statusChanged);
        QTest::qWait(1100); // hidden: a second without a tick
        QCOMPARE(ticks.size(), 0);
        main->show();
        QTRY_VERIFY(ticks.size() >= 2);
        QTest::mouseClick(main->cmdConnect[0], Qt::LeftButton);
        QCOMPARE(status(), QString("Reconnecting|attempt 1 of 2"));
        QTRY_COMPARE(server->connections(), 2);
        ConnectionKeeper::times() = {60000, 60000}; // not yet accepted when disconnected
        server->send(Greeting);
        QVERIFY(greeted());
        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        QCOMPARE(logMessages().first(), QString("Disconnected."));

        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
        ConnectionKeeper::times().delayScale = 5;
        QVERIFY(settled() && lost());
        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        QCOMPARE(logMessages().lastIndexOf("Reconnecting cancelled."), 0); // once, the newest
        QCOMPARE(status(), QString("Not connected|"));

        testsupport::LoopbackServer other;
        for (bool failing : {true, false}) {
            QVERIFY(settled() && lost());
            failing ? other.stopListening() : (void)other.resumeListening();
            main->txtDebug[1]->setText(other.portText());
            QTest::mouseClick(main->cmdConnect[0], Qt::LeftButton);
            if (failing) {
                QTRY_COMPARE(boxes().size(), 1);
                QCOMPARE(status(), QString("Not connected|"));
                continue;
            }
            QVERIFY(other.waitForClient());
            other.send(Greeting);
            QVERIFY(greeted());
            QTest::qWait(RefusalMs + 100);            // past the time the question would go out
            QCOMPARE(other.received(), QByteArray()); // the empty password, and no question
            QVERIFY(!logMessages().contains("Reconnected."));
        }
    }

    // Every retry refused: a line each, then the box; Disconnect under it cancels nothing.
    void givesUpAfterTheLastAttempt()
    {
        QVERIFY(settled());
        RealModalBoxes real(50, [](const MsgBoxCall&) { frmMain()->cmdConnect_Click(1); });
        server->stopListening();
        server->closeClient();
        QTRY_VERIFY_WITH_TIMEOUT(!boxes().isEmpty() && !RealModalBoxes::open(), 10000);
        QCOMPARE(boxes().size(), 1);
        QStringList log = logMessages().mid(0, 6);
        log.replaceInStrings(QRegularExpression("in [0-9]+ s"), "in n s");
        QCOMPARE(log, (QStringList{"Reconnecting given up after 2 attempts.",
                                   "Reconnecting failed (attempt 2 of 2): Connection refused",
                                   "Disconnected.", "Error: 0 Description: Connection refused",
                                   "Connecting.", "Reconnecting in n s (attempt 2 of 2)."}));
        QCOMPARE(status(), QString("Not connected|"));
    }

    // A close right after the password is retried once; the same again is a refusal, also
    // while its box outlasts the refusal time. A password once taken is never refused
    // later, and until the server keeps a connection, the retries go on counting.
    void aQuickCloseIsRetriedOnceThenTakenForARefusal()
    {
        ConnectionKeeper::times() = {60000, 60000}; // every loss below is "soon"
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), QStringLiteral("sesame"));
        QVERIFY(testsupport::connectMainWindow(*server));
        server->send(Greeting);
        QVERIFY(server->waitForReceived(6));
        server->closeClient();
        QVERIFY(logged("Reconnecting in [12] s \\(attempt 1 of 2\\)\\."));
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 2, 5000);
        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
        RealModalBoxes real;
        real.keepOpen(QStringLiteral("Error in connection"), 3 * RefusalMs);
        server->send(Greeting);
        QVERIFY(greeted());
        server->closeClient(true); // a reset
        QVERIFY(logged("The server closed the connection: check the password in Settings\\."));
        QTRY_COMPARE(RealModalBoxes::open(), 0);
        QCOMPARE(boxes().size(), testsupport::resetsTold() ? 1 : 0); // else an orderly close
        QCOMPARE(status(), QString("Not connected|Check the password"));
        QVERIFY(!logMessages().contains("Reconnected."));
        QCOMPARE(logMessages().filter("Reconnecting in").size(), 1);

        QVERIFY(settled()); // kept past the window: the password was taken
        ConnectionKeeper::times() = {60000, 60000};
        QVERIFY(lostAndBack(4));
        server->closeClient();
        QVERIFY(logged("Reconnecting in [23] s \\(attempt 2 of 2\\)\\."));
        QVERIFY(!logMessages().contains("Reconnected."));
    }

    // Back, the client logs the calls it missed, not one that rang after the reconnect
    // (the server's first word); the reply skips the statistics mailbox. One far bigger
    // than asked for is read only as far as asked: memory bounded, a probe answered.
    void missedCallsAreLogged()
    {
        QVERIFY(settled());
        const QString now = nextSecond();
        QSignalSpy missed(&frmMain()->keeper(), &ConnectionKeeper::missedCalls);
        QVERIFY(lostAndBack(2));
        server->send(("CALL_:" + now + ",555-0333,Live").toUtf8());
        QVERIFY(server->waitForReceived(14) && server->received() == "STATS:LAST;200");
        server->send(("STATS:LAST;4#03Live," + now + ",555-0333,Clara O'Brien," + now +
                      ",555-1319,Unknown," + now + ",555-0000,Ann,2020-01-01 10:00:00,555-1")
                         .toUtf8());
        QVERIFY(logged("Missed while disconnected: \\d\\d:\\d\\d 555-1319 Clara O'Brien"));
        QCOMPARE(logMessages().mid(1, 3),
                 (QStringList{"Missed while disconnected: " + now.mid(11, 5) + " 555-0000 Unknown",
                              "CALL_:" + now + ",555-0333,Live", "Reconnected."}));
        QVERIFY(!logMessages().contains("Receiving statistics."));
        QCOMPARE(missed.size() == 1 ? missed[0][0].toInt() : 0, 2); // one summary for the tray

        testsupport::restartResidentPeak();
        const qint64 before = testsupport::residentMiB();
        QVERIFY(lostAndBack(3) && server->waitForReceived(14));
        // Empty fields, nearly as much as a message holds: split whole, some 400 MiB.
        const QByteArray huge = "STATS:LAST;200#03" + QByteArray(16 * 1024 * 1024 - 64, ',');
        server->send(huge);
        bool begun = false; // all of it arrived, or it was handed on already
        QVERIFY(QTest::qWaitFor([&] {
            const qsizetype held = frmMain()->sckConnect().heldStatsBytes();
            begun = begun || held > 0;
            return held == huge.size() || (begun && held == 0);
        }));
        server->clearReceived();
        server->send("PING_:7"); // ends the reply, and is answered at once
        QVERIFY(server->waitForReceived(7, 1000));
        const qint64 grown = testsupport::residentMiB(testsupport::Resident::Peak) - before;
        QVERIFY2(grown < 250 || !testsupport::MemoryFiguresHold,
                 qPrintable(QString::number(grown)));
    }

    // Replies go to their askers in order: a query given up and asked again, and the
    // client's own question meanwhile; a reply that never came shifts none of the rest.
    void eachStatisticsReplyGoesToItsAsker()
    {
        QVERIFY(settled());
        const QString now = nextSecond();
        ConnectionKeeper::times() = {60000, 60000}; // the retry accepted once the server speaks
        QVERIFY(lostAndBack(2));
        showStatistics();
        FrmStatistics* window = frmStatistics();
        const auto giveUp = [window] {
            window->cmdQuery_Click();
            window->QueryTicks = FrmStatistics::TimeoutTicks; // it gives up at the next tick
            QTRY_VERIFY(window->Frame1->isEnabled());
        };
        window->optStatMode[2]->setChecked(true);
        giveUp();
        server->send("PING_:1"); // the server keeps the connection: the question goes out
        QVERIFY(server->waitForReceived(34)); // STATS:TOPS;10, PONG_:1, STATS:LAST;200
        window->optStatMode[0]->setChecked(true);
        window->cmdQuery_Click();
        QVERIFY(server->waitForReceived(47));
        QSignalSpy read(&frmMain()->sckConnect(), &Session::dataArrived);
        for (const QString& reply :
             {QString("STATS:TOPS;1#091,Ann,,,,,,3,0"), "STATS:LAST;1#03Clara," + now + ",555-1319",
              QString("STATS:LAST;1#03Bo,2026-01-01 10:00:00,555-2")}) {
            server->send(reply.toUtf8()); // each its own read
            QVERIFY(read.wait());
        }
        QTRY_COMPARE(testsupport::gridRows(window->MSFlexGrid1->grid()).value(0),
                     QString("Bo|2026-01-01 10:00:00|555-2"));
        QVERIFY(logMessages().contains("Missed while disconnected: " + now.mid(11, 5) +
                                       " 555-1319 Clara"));
        giveUp();
        window->cmdQuery_Click();
        server->send("STATS:LAST;1#03Cy,2026-01-01 11:00:00,555-3");
        QTRY_COMPARE(testsupport::gridRows(window->MSFlexGrid1->grid()).value(0),
                     QString("Cy|2026-01-01 11:00:00|555-3"));
    }
};

QTEST_MAIN(TestKeeper)
#include "tst_keeper.moc"
