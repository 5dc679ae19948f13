// The main window against a loopback server: connecting, the ways a connection ends, the log's
// bounds, shortcuts, Exit; races under real modal boxes, whose loops may delete their opener.

#include "contacts/frmcontacts.h"
#include "popup/frmquillora.h"
#include "session/dispatcher.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "testkit.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTimer>

using testsupport::boxes;
using testsupport::logMessages;
using testsupport::RealModalBoxes;

namespace {

// The buttons, the tray menu, the fields and the windows that need a connection follow it.
void checkControls(FrmMain* main, bool connected)
{
    QCOMPARE(main->cmdConnect[1]->isEnabled() && main->TrayDisconnect->isEnabled() &&
                 main->ToolAddEditContacts->isEnabled() && main->StatisticsStatistics->isEnabled(),
             connected);
    QCOMPARE(main->cmdConnect[0]->isEnabled() && main->TrayConnect->isEnabled() &&
                 main->txtDebug[0]->isEnabled() && main->txtDebug[1]->isEnabled(),
             !connected);
    QCOMPARE(main->statusPanel[0]->text(), QString(connected ? "Connected" : "Not connected"));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    std::unique_ptr<testsupport::LoopbackServer> server;

    FrmMain* connectedMain()
    {
        server = std::make_unique<testsupport::LoopbackServer>();
        return testsupport::connectMainWindow(*server) ? frmMain() : nullptr;
    }

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup()
    {
        env.reset();
        server.reset();
    }

    // A port that is none: one box. Connect from the tray menu, the fields as typed, and
    // again while pending: one connection. A second Disconnect logs nothing. The server's
    // close is only logged, its reset (where told) is a failure with a box; no descriptor
    // is left.
    void connectAndTheWaysItEnds()
    {
        server = std::make_unique<testsupport::LoopbackServer>();
        FrmMain* main = frmMain();
        checkControls(main, false);
        main->txtDebug[1]->setText("6996x"); // no port: one box, one "Disconnected."
        main->cmdConnect_Click(0);
        QTRY_COMPARE(boxes().size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(logMessages().mid(0, 2).join('|'),
                 "Disconnected.|Error: -1 Description: Invalid port number: 6996x (a number from 1 "
                 "to 65535 is needed)");
        main->txtDebug[0]->setText("  127.0.0.1 ");
        main->txtDebug[1]->setText(" " + server->portText() + "  ");
        main->TrayConnect->trigger();
        main->cmdConnect_Click(0); // abandons the pending attempt
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(main->statusPanel[0]->text(), QString("Connected"));
        QCoreApplication::processEvents();
        QCOMPARE(logMessages().count("Connected."), 1);
        QCOMPARE(logMessages().mid(0, 3), (QStringList{"IP:127.0.0.1 Port: " + server->portText(),
                                                       "Connected.", "Connecting."}));
        checkControls(main, true);
        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        checkControls(main, false);
        QVERIFY(server->waitForDisconnect());
        main->cmdConnect_Click(1);
        QCoreApplication::processEvents(); // a local close raises no Close event
        QCOMPARE(logMessages().count("Disconnected."), 2);
        const int descriptors = testkit::openDescriptors();
        for (bool reset : {false, true}) {
            QVERIFY(testsupport::connectMainWindow(*server));
            server->closeClient(reset);
            QTRY_COMPARE(logMessages().first(), QString("Disconnected."));
            checkControls(main, false);
            QCOMPARE(boxes().size(), reset && testsupport::resetsTold() ? 2 : 1);
        }
        if (testsupport::resetsTold())
            QCOMPARE(logMessages()[1],
                     QString("Error: 1 Description: The connection was reset by the server."));
        QCOMPARE(testkit::openDescriptors(), descriptors);
        // The log keeps its newest lines, so many and so many characters (a longer one alone).
        for (int i = 1; i <= FrmMain::MaxLogLines + 10; ++i)
            main->txtOut(QString::number(i));
        const QStringList lines = logMessages();
        QCOMPARE(lines.size(), FrmMain::MaxLogLines);
        QCOMPARE(lines.first() + "|" + lines.last(),
                 QString("%1|11").arg(FrmMain::MaxLogLines + 10));
        const QString wide(10000, 'w');
        for (int i = 0; i < 100; ++i)
            main->txtOut(wide);
        QCOMPARE(main->logLines().size(), FrmMain::MaxLogCharacters / (wide.size() + 7));
        main->txtOut(QString(FrmMain::MaxLogCharacters, 'h'));
        QCOMPARE(main->logLines().size(), 1);
    }

    // The menu shortcuts win over the fields' own cut and select all.
    void menuShortcutsFromEveryField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");
        for (const char* field : {"txtDebug_0", "txtDebug_1", "txtInput"})
            for (int key : {Qt::Key_A, Qt::Key_X})
                QTest::addRow("%s Ctrl+%c", field, key) << QString(field) << key;
    }
    void menuShortcutsFromEveryField()
    {
        QFETCH(QString, field);
        QFETCH(int, key);
        FrmMain* main = frmMain();
        main->chkDebug->click(); // the log pane can take the focus too
        main->show();
        QVERIFY(QTest::qWaitForWindowActive(main));
        auto* widget = main->findChild<QWidget*>(field);
        widget->setFocus();
        QTRY_VERIFY(widget->hasFocus());
        QTest::keyClick(widget, Qt::Key(key), Qt::ControlModifier);
        const FrmAbout* about = forms::loadedOrNull<FrmAbout>();
        QVERIFY(key == Qt::Key_A ? about && about->isVisible() : !forms::loadedOrNull<FrmMain>());
    }

    // Exit from the tray menu inside the menu's own loop: the menu outlives it, then the
    // connection, every window and the menu go; a message read before loads none again.
    void exitFromTheTrayMenu()
    {
        QVERIFY(connectedMain());
        frmQuillora()->showPopUp();
        const QPointer<FrmMain> main = frmMain();
        main->show();
        const QPointer<QMenu> menu(main->Tray1->trayIcon()->contextMenu());
        QAction* exit = main->TrayExit;
        QTimer::singleShot(0, menu, [menu, exit] {
            menu->setActiveAction(exit);
            QTest::keyClick(menu, Qt::Key_Return);
            // Whatever waits to be deleted goes now, still inside the menu's loop.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
        QCOMPARE(menu->exec(QPoint(10, 10)), exit);
        QVERIFY(menu);
        QTRY_VERIFY(main.isNull() && menu.isNull());
        QVERIFY(!forms::loadedOrNull<FrmQuillora>() && server->waitForDisconnect());
        sckConnect_DataArrival("CALL_:t,555-0100,Ann");
        QVERIFY(!forms::loadedOrNull<FrmMain>() && !forms::loadedOrNull<FrmQuillora>());
    }

    // The error report is open when a record arrives and when the connection is lost:
    // the record is applied under the box, the watch closes the window, nothing breaks.
    void contactsErrorReportOpenWhileARecordArrivesAndTheConnectionGoes()
    {
        QVERIFY(connectedMain());
        frmMain()->ToolAddEditContacts->trigger();
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
        QVERIFY(boxes().size() == 2 && boxes()[0].title == "Add/Edit contacts." &&
                boxes()[1].title == boxes()[0].title);
        QCOMPARE(logMessages().first(), QString("Disconnected."));
    }

    // The server rejects the client's version; under that box nothing more of the
    // connection is handled (a call, a second refused greeting), then the user exits.
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
            QCoreApplication::processEvents(); // what was read is handed on, or not
            ignored = ignored && !forms::loadedOrNull<FrmQuillora>() && RealModalBoxes::open() == 1;
            main->FileExit->trigger(); // every window unloaded under the box
        });
        server->send("Welcome to Quillora Server [0.10]");
        QTRY_VERIFY(!forms::loadedOrNull<FrmMain>());
        QVERIFY(ignored);
        QVERIFY(boxes().size() == 1 && boxes()[0].title == "Update your Quillora Server");
        QVERIFY(server->waitForDisconnect());
    }

    // A refused connection's error box is open when the user ends the client, or
    // connects again: that new connection stays when the box closes.
    void underTheConnectionErrorBox_data()
    {
        QTest::addColumn<bool>("exit");
        QTest::newRow("exit") << true;
        QTest::newRow("connect again") << false;
    }
    void underTheConnectionErrorBox()
    {
        QFETCH(bool, exit);
        server = std::make_unique<testsupport::LoopbackServer>();
        FrmMain* main = frmMain();
        bool connectedUnderTheBox = false;
        RealModalBoxes real(50, [&](const MsgBoxCall&) {
            if (exit)
                return main->FileExit->trigger();
            (void)server->resumeListening();
            main->cmdConnect_Click(0);
            connectedUnderTheBox =
                QTest::qWaitFor([main] { return main->sckConnect().isConnected(); });
        });
        server->stopListening();
        main->txtDebug[1]->setText(server->portText());
        main->cmdConnect_Click(0);
        QVERIFY(QTest::qWaitFor([] { return !boxes().isEmpty() && !RealModalBoxes::open(); }));
        QVERIFY(boxes().size() == 1 && boxes()[0].title == "Error in connection");
        if (exit)
            QTRY_VERIFY(!forms::loadedOrNull<FrmMain>());
        QCoreApplication::processEvents();
        QVERIFY(exit || (connectedUnderTheBox && main->sckConnect().isConnected()));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
