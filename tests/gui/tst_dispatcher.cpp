#include "contacts/frmcontacts.h"
#include "faultproxy.h"
#include "popup/frmquillora.h"
#include "session/keepalive.h"
#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using testsupport::boxes;
using testsupport::logMessages;

namespace {

FrmQuillora* popUp()
{
    return forms::loadedOrNull<FrmQuillora>();
}

QStringList details(FrmQuillora* window)
{
    QStringList texts;
    for (QLabel* label : window->lblIncoming)
        texts << label->text();
    return texts;
}

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    std::unique_ptr<testsupport::LoopbackServer> server;

    FrmMain* connectedMain()
    {
        server = std::make_unique<testsupport::LoopbackServer>();
        if (!testsupport::connectMainWindow(*server))
            return nullptr;
        return frmMain();
    }

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup()
    {
        env.reset();
        server.reset();
    }

    void greetings_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("greeting");
        QTest::addColumn<QString>("usingLine"); // empty: accepted
        QTest::newRow("0.92") << "s3cret pass"
                              << "Welcome to Quillora Server [0.92]"
                              << "";
        QTest::newRow("CR LF after version") << "x"
                                             << "Welcome [0.92]\r\n"
                                             << "";
        QTest::newRow("no password") << ""
                                     << "Welcome [1.0]"
                                     << "";
        QTest::newRow("0.100 is below as text") << "pw"
                                                << "Welcome [0.100]"
                                                << "You are currently using 0.100";
        QTest::newRow("bracket last") << "pw"
                                      << "Welcome ["
                                      << "You are currently using ";
        QTest::newRow("no bracket")
            << "pw"
            << "Welcome to Quillora Server"
            << "You are currently using a older version that is not compatible.";
    }
    void greetings()
    {
        QFETCH(QString, password);
        QFETCH(QString, greeting);
        QFETCH(QString, usingLine);
        testsupport::storeSetting(SettingsStore::ClientServerPassword, password);
        FrmMain* main = connectedMain();
        QVERIFY(main);
        server->send(greeting.toUtf8());
        QTRY_VERIFY(logMessages().first().startsWith(greeting.trimmed()));
        if (usingLine.isEmpty()) {
            // The password alone, no terminator; the empty password is no bytes at all.
            if (!password.isEmpty())
                QVERIFY(server->waitForReceived(password.toUtf8().size()));
            QTest::qWait(50);
            QCOMPARE(server->received(), password.toUtf8());
            // One greeting a connection: another one, even refused, is ignored.
            const int lines = main->logLines().size();
            QSignalSpy arrived(&main->sckConnect(), &Session::dataArrived);
            for (const QByteArray& each : {greeting.toUtf8(), QByteArray("Welcome [0.10]")}) {
                server->send(each); // each its own read
                QVERIFY(arrived.wait());
            }
            server->send("PING_:1");
            QVERIFY(server->waitForReceived(password.toUtf8().size() + 7));
            QCOMPARE(server->received(), password.toUtf8() + "PONG_:1");
            QCOMPARE(main->logLines().size(), lines);
            QVERIFY(main->sckConnect().isConnected());
            QVERIFY(boxes().isEmpty());
            return;
        }
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().title, QString("Update your Quillora Server"));
        QCOMPARE(boxes().first().style, 64);
        QCOMPARE(boxes().first().prompt,
                 QStringList({"Quillora Server 0.92 is required.", "", usingLine, "",
                              "Please visit https://www.quillora.net/Quillora where you will "
                              "find a newer version."})
                     .join("\r\n"));
        QVERIFY(server->waitForDisconnect());
        QCOMPARE(server->received(), QByteArray());
        QTRY_COMPARE(main->statusPanel[0]->text(), QString("Not connected"));
        QCOMPARE(logMessages().first(), greeting); // a local close logs nothing more
    }

    void pingsAreAnsweredSilently()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        const int lines = main->logLines().size();
        server->send("PING_:");
        QVERIFY(server->waitForReceived(6));
        server->send("PING_:12345");
        QVERIFY(server->waitForReceived(17));
        server->send("ping_:1");
        server->send("PING_");
        QTest::qWait(100);
        QCOMPARE(server->received(), QByteArray("PONG_:PONG_:12345"));
        // Bytes that are no text in any encoding come back exactly as they were sent.
        server->clearReceived();
        server->send("PING_:\xff\xfe\x80");
        QVERIFY(server->waitForReceived(9));
        QCOMPARE(server->received(), QByteArray("PONG_:\xff\xfe\x80"));
        QCOMPARE(main->logLines().size(), lines);
        // A greeting and a ping in one read are one greeting; the ping goes unanswered.
        server->clearReceived();
        server->send("Welcome [0.92]PING_:1");
        QTest::qWait(100);
        QCOMPARE(server->received(), QByteArray()); // no password stored, nothing sent
    }

    void callsFillThePopUp()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        const QString call = "CALL_:2026-12-06 10:15,555-0100,Ann Smith";
        server->send(call.toUtf8());
        QTRY_VERIFY(popUp() && popUp()->isVisible());
        QCOMPARE(logMessages().first(), call);
        QCOMPARE(popUp()->lblNumberCalling->text(), QString("555-0100"));
        QCOMPARE(details(popUp()),
                 (QStringList{"Ann Smith", "No data", "No data", "No data", "No data", "No data"}));

        // A second call while it is open overwrites only what it sends.
        const QString time = popUp()->lblTimeOfCall->text();
        FrmQuillora* first = popUp();
        server->send("CALL_:t,555-0200,Bob Ping!Jones,1,2,3,4,b@x.org,extra,more");
        QTRY_COMPARE(popUp()->lblNumberCalling->text(), QString("555-0200"));
        QCOMPARE(popUp(), first);
        QCOMPARE(popUp()->lblTimeOfCall->text(), time);
        QCOMPARE(details(popUp()), (QStringList{"Bob Jones", "1", "2", "3", "4", "b@x.org"}));

        server->send("CALL_:t,555-0300,Cy");
        QTRY_COMPARE(popUp()->lblNumberCalling->text(), QString("555-0300"));
        QCOMPARE(details(popUp()), (QStringList{"Cy", "1", "2", "3", "4", "b@x.org"}));

        // After it closes, the next call starts from the design texts.
        popUp()->lblNail_Click();
        QVERIFY(!popUp());
        server->send("CALL_:");
        QTRY_VERIFY(popUp());
        QCOMPARE(popUp()->lblNumberCalling->text(), QString("Unknown"));
        QCOMPARE(details(popUp()), QStringList(6, "No data"));
    }

    void replySplitAcrossReadsIsReassembled()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        modVariables().StatsReply = "old";
        // Completed by the next message, not by the clock, however slow this machine is.
        main->sckConnect().setQuietInterval(60000);
        QByteArray reply = "STATS:CNTS;";
        for (int i = 0; i < 3000; ++i)
            reply +=
                "#01Contact " + QByteArray::number(i) + ",555-" + QByteArray::number(i) + ",a@b.c,";
        const qsizetype third = reply.size() / 3;
        server->send(reply.left(third));
        QTest::qWait(5);
        server->send(reply.mid(third, third));
        QTest::qWait(5);
        server->send(reply.mid(2 * third));
        QTest::qWait(5);
        server->send("PING_:x");
        QTRY_COMPARE(modVariables().StatsReply.size(), reply.size());
        QCOMPARE(modVariables().StatsReply, QString::fromUtf8(reply));
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::True);
        QCOMPARE(logMessages().count("Receiving statistics."), 1);
        QVERIFY(server->waitForReceived(7));

        // A piece that continues nothing is dropped.
        server->send("#01stray,data");
        QTest::qWait(40);
        server->send("PING_:y");
        QVERIFY(server->waitForReceived(14));
        QCOMPARE(modVariables().StatsReply, QString::fromUtf8(reply));
        QCOMPARE(server->received(), QByteArray("PONG_:xPONG_:y"));
    }

    // A reply that states its size is not cut: one still short of its fields waits
    // longer than the quiet time, and one that has begun them all waits as long as the
    // gaps between its own reads (its last field may go on in the next), not the
    // link's quiet time.
    void replyHeldByItsStatedSize()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        main->sckConnect().setQuietInterval(200);
        server->send("STATS:LAST;2#03Ann,14:03,555-1,");
        QTest::qWait(400); // past one quiet time
        server->send("Bob,14:05,555-");
        QTest::qWait(100);
        server->send("2");
        QTRY_COMPARE(modVariables().StatsReply,
                     QString("STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,555-2"));
        // Complete in one read, it is not held for the link's long quiet time.
        modVariables().StatsReply.clear();
        main->sckConnect().setQuietInterval(60000);
        server->send("STATS:LAST;1#03Cy,14:07,555-3");
        QTRY_COMPARE(modVariables().StatsReply, QString("STATS:LAST;1#03Cy,14:07,555-3"));
    }

    // A reply that states no size may pause for twice the time its request took to be
    // answered: on a slow link, a gap longer than the usual quiet time does not cut it.
    void slowLinkLengthensTheQuietTime()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        Session& session = main->sckConnect();
        const QByteArray request = "CNTAC:SEAR;NAME;a";
        QVERIFY(session.send(QString::fromLatin1(request)));
        QVERIFY(server->waitForReceived(request.size()));
        QTest::qWait(500); // the server's answer is half a second on its way
        server->send("CNTAC:SEAR;Ann,1,2,3,4,5,7");
        QTRY_VERIFY(session.heldStatsBytes() == 0 && session.quietInterval() >= 1000);
        QVERIFY(session.quietInterval() <= 2000);
        QTest::qWait(3 * Session::DefaultQuietMilliseconds);
        server->send(",8,9");
        // The shown record is 7; the matches come after it.
        QTRY_COMPARE(modVariables().ContactRecords.toStringList(), (QStringList{"8", "9"}));
        QCOMPARE(forms::loadedOrNull<FrmContacts>()->txtInput[0]->text(), QString("Ann"));
    }

    // A reply cut short by a connection that fails (the server stops taking data, and
    // the system gives up on what waits to be sent) is dropped, not handed on under the
    // error's box once its quiet time is out.
    void cutReplyDroppedWhenTheConnectionFails()
    {
        const auto restore =
            qScopeGuard([saved = keepalive::times()] { keepalive::times() = saved; });
        keepalive::times().userTimeoutMs = 300;
        server = std::make_unique<testsupport::LoopbackServer>();
        testsupport::FaultProxy proxy(server->port(), 64 * 1024);
        QVERIFY(testsupport::connectMainWindowTo(proxy.port()) && server->waitForClient());
        Session& session = frmMain()->sckConnect();
        session.setQuietInterval(1000); // held 3 s: past the error, into its box
        testsupport::RealModalBoxes boxes(4000);
        server->send("STATS:LAST;2#03Ann,14:03,555-1,");
        QTRY_VERIFY(session.heldStatsBytes() > 0);
        proxy.setMode(testsupport::FaultProxy::Mode::BlackHole);
        QVERIFY(session.send(QString(1 << 20, QLatin1Char('x'))));
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::boxes().size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::RealModalBoxes::open(), 0, 10000);
        QCOMPARE(modVariables().StatsReply, QString());
    }

    void contactsReplyLoadsWindowHidden()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        QVERIFY(!forms::loadedOrNull<FrmContacts>());
        server->send("CNTAC:SEAR;None");
        QTRY_VERIFY(forms::loadedOrNull<FrmContacts>());
        QVERIFY(!forms::loadedOrNull<FrmContacts>()->isVisible());
    }

    void hostileInputNeverBreaksTheClient()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        server->send(QByteArray(""));
        server->send(QByteArray("\0\0\0\xff\xfe garbage", 14));
        QTest::qWait(40);
        server->send(QByteArray("CALL_:\xff\xfe\xc3,\x80\xed\xa0\x80,n\0ul", 19));
        QTRY_VERIFY(popUp());
        // A 2 MB call, logged in part: a line of megabytes would freeze the log pane. (It
        // may arrive in several reads; the first is the call, the rest continue nothing.)
        server->send("CALL_:" + QByteArray(2 * 1024 * 1024, 'y'));
        QTRY_VERIFY(
            logMessages().first().contains(QRegularExpression(" … \\(\\d+ characters\\)$")));
        QVERIFY(logMessages().first().size() < 5000);
        // A 20 MB burst that starts with no known prefix: dropped. A probe that rides on
        // its tail is dropped with it; once one is answered, the burst has been read.
        server->send(QByteArray(20 * 1024 * 1024, 'z'));
        QVERIFY(QTest::qWaitFor([this] {
            server->send("PING_:drained");
            return server->waitForReceived(13, 100);
        }));
        server->clearReceived();
        // A call of 40,000 fields.
        QByteArray call = "CALL_:t,1,Name";
        for (int i = 0; i < 40000; ++i)
            call += ",f";
        server->send(call);
        QTRY_COMPARE(popUp()->lblIncoming[5]->text(), QString("f"));
        QCOMPARE(popUp()->lblIncoming[0]->text(), QString("Name"));
        // A thousand pings in a row: every one is answered (pings that arrive together
        // in one read are one message and ride along in the first one's answer).
        for (int i = 0; i < 1000; ++i)
            server->send("PING_:" + QByteArray::number(i));
        QVERIFY(server->waitForReceived(1000 * 6 + 2890, 20000));
        QString answered = QString::fromLatin1(server->received());
        QVERIFY(answered.startsWith("PONG_:"));
        answered.replace("PING_:", "PONG_:");
        QStringList numbers = answered.split("PONG_:", Qt::SkipEmptyParts);
        QCOMPARE(numbers.size(), 1000);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(numbers[i].toInt(), i);
        QVERIFY(main->sckConnect().isConnected());
    }
};

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
