// Message boxes as users get them: real modal boxes with their own event loop, inside
// which socket events, the connection watches and other windows' handlers run, and may
// close (and so delete) the window whose handler opened the box.

#include "contacts/frmcontacts.h"
#include "popup/frmquillora.h"
#include "settings/frmsettings.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using testsupport::boxes;
using testsupport::RealModalBoxes;

namespace {

QStringList titles()
{
    QStringList result;
    for (const MsgBoxCall& call : boxes())
        result << call.title;
    return result;
}

// File > Exit from inside a box: every window is unloaded under the box.
void exitClient()
{
    if (FrmMain* main = forms::loadedOrNull<FrmMain>())
        main->FileExit->trigger();
}

} // namespace

class TestModalRaces : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    std::unique_ptr<testsupport::LoopbackServer> server;

    FrmMain* connectedMain()
    {
        server = std::make_unique<testsupport::LoopbackServer>();
        return testsupport::connectMainWindow(*server) ? frmMain() : nullptr;
    }

    // The main window's log survives only while it is loaded; whether it is gone.
    static bool clientEnded()
    {
        return QTest::qWaitFor([] { return !forms::loadedOrNull<FrmMain>(); });
    }

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup()
    {
        env.reset();
        server.reset();
    }

    // The connection drops just before Search: while the search's own box is open, the
    // connection watch closes the window and shows its box.
    void contactsSearchRightAfterTheConnectionDropped()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        main->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();
        // The user reads the search's box until long after the watch's box has gone.
        RealModalBoxes real;
        real.keepOpen(QStringLiteral("Search contacts"), 500);
        QCoreApplication::processEvents(); // the watch's first look, connected
        QVERIFY(w);
        w->txtSearch->setText(QStringLiteral("ann"));
        main->sckConnect().close(); // its state change reaches the watch queued
        QTest::mouseClick(w->cmdSearch, Qt::LeftButton);
        QTRY_VERIFY(w.isNull());
        QCOMPARE(titles(), (QStringList{"Search contacts", "Add/Edit contacts."}));
        QCOMPARE(server->received(), QByteArray());
    }

    // The error report is open when a record arrives and when the connection is lost:
    // the record is applied under the box, the watch closes the window, nothing breaks.
    void contactsErrorReportOpenWhileARecordArrivesAndTheConnectionGoes()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        main->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();
        server->send("CNTAC:SEAR;Ann,1,2,3,4,5,7,7,abc");
        QTRY_COMPARE(w->lblInput[0]->text(), QString("7"));

        bool appliedUnderTheBox = false;
        RealModalBoxes real(50, [&](const MsgBoxCall& call) {
            if (!call.prompt.startsWith(QLatin1String("Quillora caused an error.")))
                return;
            server->send("CNTAC:SEAR;Bob,1,2,3,4,5,12,12,13");
            appliedUnderTheBox = QTest::qWaitFor(
                [&] { return RealModalBoxes::open() == 1 && w && w->lblInput[0]->text() == "12"; });
            server->closeClient();
            (void)QTest::qWaitFor([w] { return !w; });
        });
        w->cmdContact[FrmContacts::Next]->click(); // "abc" is no record ID
        QTRY_VERIFY(w.isNull());
        QVERIFY(appliedUnderTheBox);
        QCOMPARE(titles(), (QStringList{"Add/Edit contacts.", "Add/Edit contacts."}));
        QCOMPARE(main->logLines().first().mid(6), QString("Disconnected."));
    }

    // The server rejects the client's version; under that box nothing more of the
    // connection is handled (a call, a second refused greeting), and then the user ends
    // the client.
    void callAndExitUnderTheGreetingBox()
    {
        FrmMain* main = connectedMain();
        QVERIFY(main);
        bool ignored = false;
        RealModalBoxes real(50, [&](const MsgBoxCall&) {
            QSignalSpy arrived(&main->sckConnect(), &Session::dataArrived);
            server->send("CALL_:2024-05-01 10:00:00,555-0100,Ann");
            ignored = arrived.wait(5000);
            server->send("Welcome to Quillora Server [0.10]");
            ignored = ignored && arrived.wait(5000);
            QTest::qWait(50); // what was read is handed on, or not, from the loop
            ignored = ignored && !forms::loadedOrNull<FrmQuillora>() && RealModalBoxes::open() == 1;
            exitClient();
        });
        server->send("Welcome to Quillora Server [0.10]");
        QVERIFY(clientEnded());
        QVERIFY(ignored);
        QCOMPARE(titles(), QStringList{"Update your Quillora Server"});
        QVERIFY(server->waitForDisconnect());
    }

    // A refused connection's error box is open when the user ends the client.
    void exitUnderTheConnectionErrorBox()
    {
        RealModalBoxes real(50, [](const MsgBoxCall&) { exitClient(); });
        quint16 port = 0;
        {
            testsupport::LoopbackServer gone;
            port = gone.port();
        }
        FrmMain* main = frmMain();
        main->txtDebug[1]->setText(QString::number(port));
        main->cmdConnect_Click(0);
        QVERIFY(clientEnded());
        QCOMPARE(titles(), QStringList{"Error in connection"});
    }

    // A refused connection's error box is open when the user connects again: the new
    // connection stays when the box closes.
    void connectAgainUnderTheConnectionErrorBox()
    {
        server = std::make_unique<testsupport::LoopbackServer>();
        FrmMain* main = frmMain();
        bool connectedUnderTheBox = false;
        RealModalBoxes real(50, [&](const MsgBoxCall&) {
            (void)server->resumeListening();
            main->cmdConnect_Click(0);
            connectedUnderTheBox =
                QTest::qWaitFor([main] { return main->sckConnect().isConnected(); });
        });
        server->stopListening();
        main->txtDebug[0]->setText(QStringLiteral("127.0.0.1"));
        main->txtDebug[1]->setText(server->portText());
        main->cmdConnect_Click(0);
        QVERIFY(QTest::qWaitFor([] { return !boxes().isEmpty() && !RealModalBoxes::open(); }));
        QTest::qWait(100);
        QVERIFY(connectedUnderTheBox && main->sckConnect().isConnected());
    }

    // The settings could not be saved; the client ends while that box is open.
    void exitUnderTheSettingsFailureBox()
    {
        RealModalBoxes real(50, [](const MsgBoxCall&) { exitClient(); });
        // A folder where the file should be: nothing can be written there.
        QVERIFY(QDir().mkpath(env->settingsFile()));
        frmMain()->ToolsSettings->trigger();
        QPointer<FrmSettings> settings = forms::loadedOrNull<FrmSettings>();
        QVERIFY(settings);
        settings->cmdButton[1]->click();
        QVERIFY(clientEnded());
        QTRY_VERIFY(settings.isNull());
        QCOMPARE(titles(), QStringList{"Settings"});
    }

    // The statistics window queues its boxes after its handlers: the connection goes,
    // Query is clicked before the watch has looked, and both boxes follow the close.
    void statisticsQueryRightAfterTheConnectionDropped()
    {
        RealModalBoxes real;
        FrmMain* main = connectedMain();
        QVERIFY(main);
        main->StatisticsStatistics->trigger();
        QPointer<FrmStatistics> s = forms::loadedOrNull<FrmStatistics>();
        QCoreApplication::processEvents(); // the watch's first look, connected
        QVERIFY(s);
        main->sckConnect().close();
        s->cmdQuery->click();
        QTRY_VERIFY(s.isNull());
        QTRY_COMPARE(titles(), (QStringList{"Query statistic", "Statistics."}));
        QCOMPARE(server->received(), QByteArray());
    }
};

QTEST_MAIN(TestModalRaces)
#include "tst_modalraces.moc"
