// Keeping the connection, against a loopback server: retries after a loss when Reconnect
// is ticked, the user stopping or hurrying them, giving up, the password refused, a
// silent server, and the calls missed meanwhile.

#include "session/deadpeer.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using testsupport::boxes;
using testsupport::logMessages;
using testsupport::RealModalBoxes;

namespace {

// Waits until the newest log line matches.
bool logged(const QString& pattern)
{
    const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
    return QTest::qWaitFor([&] { return expression.match(logMessages().value(0)).hasMatch(); });
}

int socketOption(int level, int option)
{
    int value = -1;
    socklen_t size = sizeof value;
    ::getsockopt(static_cast<int>(frmMain()->sckConnect().socketDescriptor()), level, option,
                 &value, &size);
    return value;
}

} // namespace

class TestKeeper : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    std::unique_ptr<testsupport::LoopbackServer> server;

    // Connected, greeted, and (with a password stored) logged in.
    FrmMain* loggedIn()
    {
        if (!testsupport::connectMainWindow(*server))
            return nullptr;
        server->send("Welcome to Quillora Server [0.92]");
        FrmMain* main = frmMain();
        return QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }) ? main : nullptr;
    }

    static constexpr int RefusalMs = 200;

    // Connected, greeted and past the time in which a refused password shows.
    FrmMain* settled()
    {
        FrmMain* main = loggedIn();
        QTest::qWait(RefusalMs + 50);
        return main;
    }

    static QString status(FrmMain* main)
    {
        return main->statusPanel[0]->text() + "|" + main->statusPanel[1]->text();
    }

private slots:
    void init()
    {
        env = std::make_unique<testsupport::Environment>();
        server = std::make_unique<testsupport::LoopbackServer>();
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("True"));
        testsupport::storeSetting(QStringLiteral("ClientReconnectAttemps"), QStringLiteral("2"));
        // A loss this long after logging in is no refused password.
        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
    }
    void cleanup()
    {
        env.reset();
        server.reset();
        DeadPeerWatch::setMinimumSilence(DeadPeerWatch::DefaultMinimumSilenceMs);
        ConnectionKeeper::times() = {};
    }

    // Lost, waited for, retried, back; the state shows in the status bar and the tray.
    void aLostConnectionComesBack()
    {
        ConnectionKeeper::times().delayScale = 5; // time to look at the waiting state
        FrmMain* main = settled();
        QVERIFY(main);
        QCOMPARE(main->Tray1->TrayToolTip(), QString("Quillora Client"));
        server->closeClient();
        QVERIFY(logged("Reconnecting in [4-6] s \\(attempt 1 of 2\\)\\."));
        QCOMPARE(logMessages()[1], QString("Disconnected."));
        QVERIFY(QRegularExpression("^Reconnecting in [3-6] s\\|attempt 1 of 2$")
                    .match(status(main))
                    .hasMatch());
        QVERIFY(main->Tray1->TrayToolTip().startsWith("Quillora Client - Reconnecting at "));
        // The countdown wakes the client only while the status bar can be seen.
        QSignalSpy ticks(&main->keeper(), &ConnectionKeeper::statusChanged);
        QTest::qWait(1100);
        QCOMPARE(ticks.size(), 0);
        main->show();
        QTest::qWait(1100);
        QVERIFY(ticks.size() >= 2 && ticks.size() <= 3);
        const auto trayPicture = [main] {
            return main->Tray1->trayIcon()->icon().pixmap(32).toImage();
        };
        const QImage greyed = trayPicture(); // the disconnected look
        QVERIFY(greyed != main->windowIcon().pixmap(32).toImage());
        QVERIFY(main->cmdConnect[1]->isEnabled() && main->cmdConnect[0]->isEnabled());

        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 2, 5000);
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(logged("Reconnected\\."));
        QCOMPARE(main->statusPanel[0]->text(), QString("Connected"));
        QCOMPARE(main->Tray1->TrayToolTip(), QString("Quillora Client"));
        QCOMPARE(trayPicture(), main->windowIcon().pixmap(32).toImage());
        QVERIFY(boxes().isEmpty());
    }

    // Disconnect stops the retries; Connect makes the waiting one at once, and once it
    // has got through, Disconnect is a plain one. Connect to another server meanwhile is
    // a new connection: its failure shows the box and ends the retries, and once in,
    // nothing of the old server's calls is asked for.
    void theUserStopsOrHurriesTheRetries()
    {
        ConnectionKeeper::times().delayScale = 3; // no retry of its own before the clicks
        FrmMain* main = settled();
        QVERIFY(main);
        server->closeClient();
        QVERIFY(logged("Reconnecting in .*"));
        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        QCOMPARE(logMessages().first(), QString("Reconnecting cancelled."));
        QCOMPARE(status(main), QString("Not connected|"));
        QVERIFY(!main->cmdConnect[1]->isEnabled());
        QTest::qWait(4000); // past the first retry's time: none is made
        QCOMPARE(server->connections(), 1);

        QVERIFY(settled());
        server->closeClient();
        QVERIFY(logged("Reconnecting in .*"));
        QTest::mouseClick(main->cmdConnect[0], Qt::LeftButton);
        QCOMPARE(logMessages().first(), QString("Connecting."));
        QCOMPARE(status(main), QString("Reconnecting|attempt 1 of 2"));
        QTRY_COMPARE(server->connections(), 3);
        ConnectionKeeper::times() = {60000, 60000}; // not yet accepted when disconnected
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }));
        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        QCOMPARE(logMessages().first(), QString("Disconnected."));
        QCOMPARE(logMessages().count("Reconnecting cancelled."), 1);

        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
        testsupport::LoopbackServer other;
        for (bool failing : {true, false}) {
            QVERIFY(settled());
            server->closeClient();
            QVERIFY(logged("Reconnecting in .*"));
            if (failing)
                other.stopListening();
            else
                QVERIFY(other.resumeListening());
            main->txtDebug[1]->setText(other.portText());
            QTest::mouseClick(main->cmdConnect[0], Qt::LeftButton);
            if (failing) {
                QTRY_COMPARE(boxes().size(), 1);
                QCOMPARE(status(main), QString("Not connected|"));
                continue;
            }
            QVERIFY(other.waitForClient());
            other.send("Welcome to Quillora Server [0.92]");
            QTest::qWait(RefusalMs + 100);
            QVERIFY(main->sckConnect().isGreeted());
            QCOMPARE(other.received(), QByteArray()); // the empty password, and no question
            QVERIFY(!logMessages().contains("Reconnected."));
        }
    }

    // Every retry refused: one line each, then the box, once. Disconnect while the box
    // is open cancels no reconnecting: the retries are over.
    void givesUpAfterTheLastAttempt()
    {
        QVERIFY(settled());
        RealModalBoxes real(50, [](const MsgBoxCall&) { frmMain()->cmdConnect_Click(1); });
        server->stopListening();
        server->closeClient();
        QVERIFY(QTest::qWaitFor([] { return !boxes().isEmpty(); }, 10000));
        QTest::qWait(100);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().title, QString("Error in connection"));
        QStringList log = logMessages();
        log.replaceInStrings(QRegularExpression("in [0-9]+ s"), "in n s");
        QCOMPARE(log.mid(0, 9), (QStringList{
                                    "Reconnecting given up after 2 attempts.",
                                    "Reconnecting failed (attempt 2 of 2): Connection refused",
                                    "Disconnected.",
                                    "Error: 0 Description: Connection refused",
                                    "Connecting.",
                                    "Reconnecting in n s (attempt 2 of 2).",
                                    "Reconnecting failed (attempt 1 of 2): Connection refused",
                                    "Connecting.",
                                    "Reconnecting in n s (attempt 1 of 2).",
                                }));
        QCOMPARE(status(frmMain()), QString("Not connected|"));
    }

    // A server that closes right after the password may have refused it or gone down:
    // the retry tells. Refused again, it is said so and not retried, also while the end
    // is shown in a box for longer than the refusal window. A password taken before is
    // never taken for refused later (a crash after a restart), and until the server has
    // kept the connection, the retries go on counting and waiting longer.
    void aQuickCloseIsRetriedOnceThenTakenForARefusal()
    {
        ConnectionKeeper::times() = {60000, 60000}; // every loss below is "soon"
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"),
                                  QStringLiteral("open sesame"));
        FrmMain* main = loggedIn();
        QVERIFY(main && server->waitForReceived(11));
        server->closeClient();
        QVERIFY(logged("Reconnecting in [12] s \\(attempt 1 of 2\\)\\."));
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 2, 5000);
        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
        RealModalBoxes real;
        real.keepOpen(QStringLiteral("Error in connection"), 3 * RefusalMs);
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }));
        server->resetClient();
        QVERIFY(logged("The server closed the connection: check the password in Settings\\."));
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(status(main), QString("Not connected|Check the password"));
        QVERIFY(!logMessages().contains("Reconnected."));
        QTest::qWait(1500);
        QCOMPARE(server->connections(), 2);

        QVERIFY(settled()); // kept past the window: the password was taken
        ConnectionKeeper::times() = {60000, 60000};
        server->closeClient();
        QVERIFY(logged("Reconnecting in .*"));
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 4, 5000);
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([] { return frmMain()->sckConnect().isGreeted(); }));
        server->closeClient();
        QVERIFY(logged("Reconnecting in [23] s \\(attempt 2 of 2\\)\\."));
        QVERIFY(!logMessages().contains("Reconnected."));
    }

    // After the user's Disconnect nothing of that connection stays: the missed-calls
    // question it had out does not take the next statistics reply, and a later Connect
    // that fails is reported as ever, not retried.
    void disconnectForgetsTheConnection()
    {
        FrmMain* main = settled();
        QVERIFY(main);
        server->closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 2, 5000);
        server->clearReceived();
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(server->waitForReceived(14)); // the missed-calls question
        main->cmdConnect_Click(1);
        QVERIFY(loggedIn());
        server->send("STATS:LAST;0#03");
        QVERIFY(logged("Receiving statistics\\."));

        main->cmdConnect_Click(1);
        server->stopListening();
        main->cmdConnect_Click(0);
        QTRY_COMPARE(boxes().size(), 1);
        QTest::qWait(1500);
        QVERIFY(logMessages().filter("Reconnecting in").size() == 1); // the first loss's
    }

    // A server whose version is refused is never retried, not even when it closes the
    // connection while the box about its version is still open.
    void aRefusedVersionIsNotRetried()
    {
        QVERIFY(testsupport::connectMainWindow(*server));
        testsupport::RealModalBoxes real(50, [this](const MsgBoxCall&) {
            server->closeClient();
            (void)QTest::qWaitFor([] { return !frmMain()->sckConnect().isConnected(); });
        });
        server->send("Welcome to Quillora Server [0.10]");
        QVERIFY(QTest::qWaitFor([] { return boxes().size() == 1 && !RealModalBoxes::open(); }));
        QTest::qWait(1500);
        QCOMPARE(server->connections(), 1);
        QVERIFY(logMessages().filter("Reconnecting").isEmpty());
    }

    // Without Reconnect a loss is only logged, as ever.
    void withoutReconnectNothingIsRetried()
    {
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("False"));
        FrmMain* main = settled();
        QVERIFY(main);
        server->closeClient();
        QVERIFY(logged("Disconnected\\."));
        QTest::qWait(1500);
        QCOMPARE(server->connections(), 1);
        QCOMPARE(status(main), QString("Not connected|"));
        QCOMPARE(main->Tray1->TrayToolTip(), QString("Quillora Client - Not connected"));
    }

    // Keep-alive on the socket; a server that probed twice and then fell silent is
    // given up as by a socket error.
    void aSilentServerIsFoundDead()
    {
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("False"));
        DeadPeerWatch::setMinimumSilence(1000);
        QVERIFY(loggedIn());
        QCOMPARE(socketOption(SOL_SOCKET, SO_KEEPALIVE), 1);
        QCOMPARE(socketOption(IPPROTO_TCP, TCP_KEEPIDLE), 30);
        QCOMPARE(socketOption(IPPROTO_TCP, TCP_USER_TIMEOUT), 90000);
        for (const QByteArray probe : {"PING_:1", "PING_:2"}) { // each its own read
            server->clearReceived();
            server->send(probe);
            QVERIFY(server->waitForReceived(probe.size()));
        }
        QVERIFY(logged("Disconnected\\."));
        QCOMPARE(logMessages()[1], QString("Error: 5 Description: No sign of the server for 1 s."));
        QCOMPARE(boxes().size(), 1);
        QVERIFY(!frmMain()->sckConnect().isConnected());
    }

    // After a reconnect the client asks for the last calls and logs those it missed,
    // not a call that rang after the reconnect and popped up (here the server's first
    // word, so the question goes out just before it shows); the reply does not reach the
    // statistics window's mailbox. A reply far bigger than asked for is read only as
    // far as asked: the client answers a probe at once, its memory bounded.
    void missedCallsAreLogged()
    {
        QVERIFY(settled());
        QTest::qWait(1000); // the calls below are later than the last word heard
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        const QString old =
            QDateTime::currentDateTime().addSecs(-3600).toString("yyyy-MM-dd HH:mm:ss");
        server->closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 2, 5000);
        server->clearReceived();
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([] { return frmMain()->sckConnect().isGreeted(); }));
        server->send(("CALL_:" + now + ",555-0333,Live").toUtf8());
        QVERIFY(server->waitForReceived(14));
        QCOMPARE(server->received(), QByteArray("STATS:LAST;200"));
        server->send(("STATS:LAST;4#03Live," + now + ",555-0333,Clara O'Brien," + now +
                      ",555-1319,Unknown," + now + ",555-0000,Ann," + old + ",555-1")
                         .toUtf8());
        QVERIFY(logged("Missed while disconnected: \\d\\d:\\d\\d 555-1319 Clara O'Brien"));
        QCOMPARE(logMessages()[1],
                 "Missed while disconnected: " + now.mid(11, 5) + " 555-0000 Unknown");
        QVERIFY(logMessages()[2].startsWith("CALL_:"));
        QCOMPARE(logMessages()[3], QString("Reconnected."));
        QVERIFY(!logMessages().contains("Receiving statistics."));

        testsupport::restartResidentPeak();
        const qint64 before = testsupport::residentMiB();
        server->closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 3, 5000);
        server->clearReceived();
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(server->waitForReceived(14));
        // Nearly as much as a message holds, of empty fields: split whole, they would
        // take some 400 MiB (the reception itself takes about 100).
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

    // Replies go to whoever asked, in the order asked: a query that gave up waiting and
    // was asked again, and the client's own question meanwhile, each get their own.
    void eachStatisticsReplyGoesToItsAsker()
    {
        QVERIFY(settled());
        QTest::qWait(1000); // the call below is later than the last word heard
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        server->closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 2, 5000);
        ConnectionKeeper::times() = {60000, 60000}; // accepted once the server speaks
        server->clearReceived();
        server->send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([] { return frmMain()->sckConnect().isGreeted(); }));
        showStatistics();
        FrmStatistics* window = frmStatistics();
        window->optStatMode[2]->setChecked(true);
        window->cmdQuery_Click();
        window->QueryTicks = FrmStatistics::TimeoutTicks; // it gives up at the next tick
        QTRY_VERIFY(window->Frame1->isEnabled());
        server->send("PING_:1"); // the server keeps the connection: the question goes out
        QVERIFY(server->waitForReceived(34)); // STATS:TOPS;10, PONG_:1, STATS:LAST;200
        window->optStatMode[0]->setChecked(true);
        window->cmdQuery_Click();
        QVERIFY(server->waitForReceived(47));
        for (const QString& reply :
             {QString("STATS:TOPS;1#091,Ann,,,,,,3,0"), "STATS:LAST;1#03Clara," + now + ",555-1319",
              QString("STATS:LAST;1#03Bo,2026-01-01 10:00:00,555-2")}) {
            server->send(reply.toUtf8());
            QTest::qWait(100);
        }
        QTRY_COMPARE(testsupport::gridRows(window->MSFlexGrid1->grid()).value(0),
                     QString("Bo|2026-01-01 10:00:00|555-2"));
        QVERIFY(logMessages().contains("Missed while disconnected: " + now.mid(11, 5) +
                                       " 555-1319 Clara"));
        // A reply that never came does not shift the later ones.
        window->cmdQuery_Click();
        window->QueryTicks = FrmStatistics::TimeoutTicks;
        QTRY_VERIFY(window->Frame1->isEnabled());
        window->cmdQuery_Click();
        server->send("STATS:LAST;1#03Cy,2026-01-01 11:00:00,555-3");
        QTRY_COMPARE(testsupport::gridRows(window->MSFlexGrid1->grid()).value(0),
                     QString("Cy|2026-01-01 11:00:00|555-3"));
    }
};

QTEST_MAIN(TestKeeper)
#include "tst_keeper.moc"
