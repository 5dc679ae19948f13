#include "contacts/frmcontacts.h"
#include "popup/frmquillora.h"
#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QTest>

using testsupport::boxes;

namespace {

QStringList messages(FrmMain* main)
{
    QStringList result;
    for (const QString& line : main->logLines())
        result << line.mid(6);
    return result;
}

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

    void greetingSendsPassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("greeting");
        QTest::newRow("stored password") << "s3cret pass"
                                         << "Welcome to Quillora Server [0.92]";
        QTest::newRow("newer version") << "x"
                                       << "Welcome [1.0]";
        QTest::newRow("CR LF after version") << "x"
                                             << "Welcome [0.92]\r\n";
        QTest::newRow("no password") << ""
                                     << "Welcome [0.93]";
    }
    void greetingSendsPassword()
    {
        QFETCH(QString, password);
        QFETCH(QString, greeting);
        if (!password.isEmpty())
            testsupport::storeSetting(SettingsStore::ClientServerPassword, password);
        FrmMain* main = connectedMain();
        QVERIFY(main);
        server->send(greeting.toUtf8());
        QTRY_VERIFY(messages(main).first().startsWith(greeting.trimmed()));
        if (password.isEmpty()) {
            // The empty text goes out as nothing at all: the connection stays, silent.
            QTest::qWait(100);
            QCOMPARE(server->received(), QByteArray());
        } else {
            QVERIFY(server->waitForReceived(password.size()));
            QTest::qWait(50);
            QCOMPARE(server->received(), password.toUtf8());
        }
        QVERIFY(main->sckConnect().isConnected());
        QVERIFY(boxes().isEmpty());
    }

    void rejectedGreetings_data()
    {
        QTest::addColumn<QString>("greeting");
        QTest::addColumn<QString>("usingLine");
        QTest::newRow("no bracket") << "Welcome to Quillora Server"
                                    << "You are currently using a older version that is not "
                                       "compatible.";
        QTest::newRow("0.9") << "Welcome [0.9]"
                             << "You are currently using 0.9";
        QTest::newRow("0.100") << "Welcome [0.100]"
                               << "You are currently using 0.100";
        QTest::newRow("bracket last") << "Welcome ["
                                      << "You are currently using ";
    }
    void rejectedGreetings()
    {
        QFETCH(QString, greeting);
        QFETCH(QString, usingLine);
        testsupport::storeSetting(SettingsStore::ClientServerPassword, "secret");
        FrmMain* main = connectedMain();
        QVERIFY(main);
        server->send(greeting.toUtf8());
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
        // A local close: no "Disconnected." line follows the greeting.
        QCOMPARE(messages(main).first(), greeting);
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
        QCOMPARE(main->logLines().size(), lines);
    }

    void greetingAndPingInOneReadIsAGreeting()
    {
        testsupport::storeSetting(SettingsStore::ClientServerPassword, "pw");
        FrmMain* main = connectedMain();
        QVERIFY(main);
        server->send("Welcome [0.92]PING_:1");
        QTest::qWait(150);
        // The version ends before the last character: "0.92]PING_:" is accepted.
        QCOMPARE(server->received(), QByteArray("pw"));
    }

    void callsFillThePopUp()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        const QString call = "CALL_:2026-12-06 10:15,555-0100,Ann Smith";
        server->send(call.toUtf8());
        QTRY_VERIFY(popUp() && popUp()->isVisible());
        QCOMPARE(messages(main).first(), call);
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

    void hugeCallIsHandled()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        QByteArray call = "CALL_:t,1,Name";
        for (int i = 0; i < 40000; ++i)
            call += ",f";
        server->send(call);
        QTRY_VERIFY(popUp());
        QTRY_COMPARE(popUp()->lblIncoming[5]->text(), QString("f"));
        QCOMPARE(popUp()->lblIncoming[0]->text(), QString("Name"));
    }

    void statisticsReplyGoesToMailbox()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        modVariables().StatsReply = "old";
        server->send("STATS:LAST;#01first");
        QTRY_COMPARE(modVariables().StatsReply, QString("STATS:LAST;#01first"));
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::True);
        QCOMPARE(messages(main).first(), QString("Receiving statistics."));
    }

    void replySplitAcrossReadsIsReassembled()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        QByteArray reply = "STATS:CNTS;";
        for (int i = 0; i < 3000; ++i)
            reply +=
                "#01Contact " + QByteArray::number(i) + ",555-" + QByteArray::number(i) + ",a@b.c,";
        // Three pieces a few milliseconds apart, then a ping right behind.
        const qsizetype third = reply.size() / 3;
        server->send(reply.left(third));
        QTest::qWait(5);
        server->send(reply.mid(third, third));
        QTest::qWait(5);
        server->send(reply.mid(2 * third));
        QTRY_COMPARE(modVariables().StatsReply.size(), reply.size());
        QCOMPARE(modVariables().StatsReply, QString::fromUtf8(reply));
        QCOMPARE(messages(main).count("Receiving statistics."), 1);

        // A piece that continues nothing is dropped.
        server->send("#01stray,data");
        QTest::qWait(40);
        server->send("PING_:x");
        QVERIFY(server->waitForReceived(7));
        QTest::qWait(60);
        QCOMPARE(modVariables().StatsReply, QString::fromUtf8(reply));
        QCOMPARE(server->received(), QByteArray("PONG_:x"));
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
        server->send(QByteArray("CALL_:\xff\xfe\xc3,\x80\xed\xa0\x80,n\0ul", 21));
        QTRY_VERIFY(popUp());
        // A 20 MB burst that starts with no known prefix, then one that starts as a call.
        server->send(QByteArray(20 * 1024 * 1024, 'z'));
        QTest::qWait(40);
        server->send("CALL_:" + QByteArray(2 * 1024 * 1024, 'y'));
        QTest::qWait(40);
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
