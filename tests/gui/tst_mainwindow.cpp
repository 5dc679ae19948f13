#include "popup/frmquillora.h"
#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/twips.h"
#include "testsupport.h"

#include <QMenuBar>
#include <QRegularExpression>
#include <QTest>

using testsupport::boxes;

namespace {

// The log's lines without their "HH:MM " time stamps, newest first.
QStringList messages(FrmMain* main)
{
    QStringList result;
    for (const QString& line : main->logLines())
        result << line.mid(6);
    return result;
}

void checkDisconnectedLook(FrmMain* main)
{
    QCOMPARE(main->statusPanel[0]->text(), QString("Not connected"));
    QCOMPARE(main->statusPanel[1]->text(), QString());
    QVERIFY(main->cmdConnect[0]->isEnabled());
    QVERIFY(!main->cmdConnect[1]->isEnabled());
    QVERIFY(main->txtDebug[0]->isEnabled());
    QVERIFY(main->txtDebug[1]->isEnabled());
    QVERIFY(!main->ToolAddEditContacts->isEnabled());
    QVERIFY(!main->StatisticsStatistics->isEnabled());
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void loadSetsUpTheWindow()
    {
        FrmMain* main = frmMain();
        QCOMPARE(main->windowTitle(), QString("Quillora Client 0.9"));
        QCOMPARE(modVariables().ClientVersion, QString("0.9"));
        QCOMPARE(modVariables().RequiredServerVersion, QString("0.92"));
        QCOMPARE(messages(main), QStringList{"Applicationen started."});
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d Applicationen started\\.$")
                    .match(main->logLines().first())
                    .hasMatch());
        QCOMPARE(main->txtDebug[0]->text(), QString("127.0.0.1"));
        QCOMPARE(main->txtDebug[1]->text(), QString("6996"));
        QCOMPARE(main->height(), twips(3165));
        QVERIFY(!main->txtInput->isVisibleTo(main));
        QCOMPARE(main->statusPanel[0]->width(), twips(2340));
        QCOMPARE(main->statusPanel[1]->width(), twips(2340));
        checkDisconnectedLook(main);
        // Defaults are not written back by the start-up loader.
        QCOMPARE(GetSetting(SettingsStore::ClientServerIP), QString());

        const QList<QPair<QAction*, QString>> shortcuts{{main->FileExit, "Ctrl+X"},
                                                        {main->ToolsMinimizeToTray, "F12"},
                                                        {main->ToolAddEditContacts, "Ctrl+E"},
                                                        {main->ToolsSettings, "Ctrl+S"},
                                                        {main->HelpQuilloraHelp, "F1"},
                                                        {main->HelpHomepage, "Ctrl+H"},
                                                        {main->HelpAbout, "Ctrl+A"}};
        for (const auto& [action, key] : shortcuts)
            QCOMPARE(action->shortcut().toString(), key);
        QVERIFY(!main->HelpQuilloraHelp->isEnabled());
        QVERIFY(main->HelpAbout->isEnabled() && main->FileExit->isEnabled());
        QStringList menus;
        for (QAction* action : main->menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, (QStringList{"&File", "&Tools", "S&tatistics", "&Help"}));
    }

    void debugPaneSwitchesHeight()
    {
        FrmMain* main = frmMain();
        main->show();
        QTest::mouseClick(main->chkDebug, Qt::LeftButton, {},
                          QPoint(4, main->chkDebug->height() / 2));
        QVERIFY(main->chkDebug->isChecked());
        QCOMPARE(main->height(), twips(5955));
        QVERIFY(main->txtInput->isVisible());
        main->chkDebug->click();
        QCOMPARE(main->height(), twips(3165));
        QVERIFY(!main->txtInput->isVisible());
    }

    void logIsNewestFirst()
    {
        FrmMain* main = frmMain();
        main->txtOut("one");
        main->txtOut("two");
        QCOMPARE(messages(main), (QStringList{"two", "one", "Applicationen started."}));
    }

    void connectAndDisconnect()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->show();
        main->txtDebug[0]->setText("  127.0.0.1 ");
        main->txtDebug[1]->setText(" " + server.portText() + "  ");
        QTest::mouseClick(main->cmdConnect[0], Qt::LeftButton);
        QVERIFY(server.waitForClient());
        QTRY_COMPARE(main->statusPanel[0]->text(), QString("Connected"));
        QCOMPARE(main->statusPanel[1]->text(), "127.0.0.1:" + server.portText());
        QCOMPARE(messages(main),
                 (QStringList{"IP:127.0.0.1 Port: " + server.portText(), "Connected.",
                              "Connecting.", "Applicationen started."}));
        // The fields themselves keep what was typed.
        QCOMPARE(main->txtDebug[0]->text(), QString("  127.0.0.1 "));
        QVERIFY(!main->cmdConnect[0]->isEnabled());
        QVERIFY(main->cmdConnect[1]->isEnabled());
        QVERIFY(!main->txtDebug[0]->isEnabled() && !main->txtDebug[1]->isEnabled());
        QVERIFY(main->ToolAddEditContacts->isEnabled());
        QVERIFY(main->StatisticsStatistics->isEnabled());

        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        QCOMPARE(messages(main).first(), QString("Disconnected."));
        checkDisconnectedLook(main);
        QVERIFY(server.waitForDisconnect());
        QTest::qWait(50);
        // A local close raises no second "Disconnected.", and no box.
        QCOMPARE(messages(main).count("Disconnected."), 1);
        QVERIFY(boxes().isEmpty());
        // Disconnect while closed logs nothing.
        const int lines = main->logLines().size();
        main->cmdConnect_Click(1);
        main->cmdConnect_Click(7);
        QCOMPARE(main->logLines().size(), lines);
    }

    void peerCloseLogsOnce()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        QVERIFY(testsupport::connectMainWindow(server));
        server.closeClient();
        QTRY_COMPARE(messages(main).first(), QString("Disconnected."));
        QTest::qWait(100);
        QCOMPARE(messages(main).count("Disconnected."), 1);
        QVERIFY(boxes().isEmpty());
        checkDisconnectedLook(main);
    }

    void refusedConnection()
    {
        quint16 port = 0;
        {
            testsupport::LoopbackServer closed;
            port = closed.port();
        }
        FrmMain* main = frmMain();
        main->txtDebug[1]->setText(QString::number(port));
        main->cmdConnect_Click(0);
        QTRY_COMPARE(boxes().size(), 1);
        const MsgBoxCall box = boxes().first();
        QCOMPARE(box.title, QString("Error in connection"));
        QCOMPARE(box.style, 16);
        const QStringList lines = box.prompt.split("\r\n");
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines[0], QString("Error in connecting to server."));
        QCOMPARE(lines[1], QString());
        QCOMPARE(lines[2], QString("Error code: 0"));
        QVERIFY(lines[3].startsWith("Description: ") && lines[3].size() > 13);
        QCOMPARE(lines.mid(4), (QStringList{"", "Possible errors:",
                                            "* Make sure that the source is a Quillora server.",
                                            "* Make sure that the port is correct.",
                                            "* Only IP or hostname are valid input."}));
        const QString description = lines[3].mid(13);
        QCOMPARE(
            messages(main).mid(0, 3),
            (QStringList{"Disconnected.", "Error: 0 Description: " + description, "Connecting."}));
        QTest::qWait(50);
        QCOMPARE(messages(main).count("Disconnected."), 1);
        checkDisconnectedLook(main);
    }

    void invalidPortFailsThroughErrorPath_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("letters") << "abc";
        QTest::newRow("too large") << "99999";
        QTest::newRow("negative") << "-1";
        QTest::newRow("zero") << "0";
    }
    void invalidPortFailsThroughErrorPath()
    {
        QFETCH(QString, port);
        FrmMain* main = frmMain();
        main->txtDebug[1]->setText(port);
        main->cmdConnect_Click(0);
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().title, QString("Error in connection"));
        QVERIFY(boxes().first().prompt.contains(port));
        QCOMPARE(messages(main).first(), QString("Disconnected."));
        QVERIFY(messages(main)[1].startsWith("Error: "));
        QCOMPARE(messages(main)[2], QString("Connecting."));
        checkDisconnectedLook(main);
    }

    void emptyFieldsAreIgnored()
    {
        FrmMain* main = frmMain();
        main->txtDebug[0]->setText("   ");
        main->cmdConnect_Click(0);
        main->txtDebug[0]->setText("127.0.0.1");
        main->txtDebug[1]->setText("");
        main->cmdConnect_Click(0);
        QTest::qWait(20);
        QCOMPARE(messages(main), QStringList{"Applicationen started."});
        QVERIFY(boxes().isEmpty());
    }

    void secondConnectAbandonsPendingAttempt()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->txtDebug[1]->setText(server.portText());
        main->cmdConnect_Click(0);
        // Still pending: the disconnected look holds until the Connect event.
        QVERIFY(main->sckConnect().state() != Session::ConnectedState);
        QCOMPARE(main->statusPanel[0]->text(), QString("Not connected"));
        QVERIFY(main->cmdConnect[0]->isEnabled());
        QVERIFY(!main->cmdConnect[1]->isEnabled());
        main->cmdConnect_Click(0);
        QCOMPARE(messages(main).mid(0, 2), (QStringList{"Connecting.", "Connecting."}));
        QTRY_COMPARE(main->statusPanel[0]->text(), QString("Connected"));
        QTest::qWait(50);
        QCOMPARE(messages(main).count("Connected."), 1);
        QVERIFY(boxes().isEmpty());
    }

    void unloadClosesEverything()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        QVERIFY(testsupport::connectMainWindow(server));
        frmQuillora()->showPopUp();
        QVERIFY(forms::loadedOrNull<FrmQuillora>());
        QPointer<FrmMain> guard(main);
        main->FileExit->trigger();
        QVERIFY(!forms::loadedOrNull<FrmQuillora>());
        QVERIFY(!forms::loadedOrNull<FrmMain>());
        QVERIFY(server.waitForDisconnect());
        QTRY_VERIFY(guard.isNull());
        // The next use loads a new main window, started afresh.
        QCOMPARE(messages(frmMain()), QStringList{"Applicationen started."});
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
