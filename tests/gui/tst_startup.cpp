#include "settings/frmsettings.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QSystemTrayIcon>
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

void storeServer(const testsupport::LoopbackServer& server)
{
    testsupport::storeSetting("ClientServerIP", "127.0.0.1");
    testsupport::storeSetting("ClientPort", server.portText());
}

} // namespace

// The stored settings applied at start: fields, auto-connect, start in the tray. This
// platform has no system tray, so start-minimised takes the minimise fallback here; the
// desktop tests cover the real tray.
class TestStartup : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void autoConnectOnlyOnExactlyTrue_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("connects");
        QTest::newRow("True") << "True" << true;
        QTest::newRow("true") << "true" << false;
        QTest::newRow("TRUE") << "TRUE" << false;
        QTest::newRow("True with a space") << "True " << false;
        QTest::newRow("False") << "False" << false;
        QTest::newRow("empty") << "" << false;
    }
    void autoConnectOnlyOnExactlyTrue()
    {
        QFETCH(QString, flag);
        QFETCH(bool, connects);
        testsupport::LoopbackServer server;
        storeServer(server);
        testsupport::storeSetting("ClientAutoStart", flag);

        FrmMain* main = frmMain();
        QCOMPARE(main->txtDebug[0]->text(), QString("127.0.0.1"));
        QCOMPARE(main->txtDebug[1]->text(), server.portText());
        QVERIFY(!main->isHiddenInTray());
        QVERIFY(!(main->windowState() & Qt::WindowMinimized));
        if (!connects) {
            QCOMPARE(messages(main), QStringList{"Applicationen started."});
            QCOMPARE(main->sckConnect().state(), int(Session::Closed));
            return;
        }
        QCOMPARE(messages(main), (QStringList{"Connecting.", "Applicationen started."}));
        QVERIFY(server.waitForClient());
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }, 5000));
    }

    void connectsFirstThenGoesToTheTray()
    {
        QVERIFY2(!QSystemTrayIcon::isSystemTrayAvailable(), "this test expects no system tray");
        testsupport::LoopbackServer server;
        storeServer(server);
        testsupport::storeSetting("ClientAutoStart", "True");
        testsupport::storeSetting("ClientMinimized", "True");

        FrmMain* main = frmMain();
        QCOMPARE(messages(main),
                 (QStringList{"No system tray: minimized instead.", "Minimize to tray.",
                              "Connecting.", "Applicationen started."}));
        // No tray to come back from: the window is minimised, not hidden.
        QVERIFY(!main->isHiddenInTray());
        QVERIFY(main->windowState() & Qt::WindowMinimized);
        QVERIFY(main->Tray1->IsVisible());
        // The attempt goes on meanwhile.
        QVERIFY(server.waitForClient());
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }, 5000));
    }

    void minimizedOnlyOnExactlyTrue()
    {
        testsupport::storeSetting("ClientMinimized", "true");
        FrmMain* main = frmMain();
        QCOMPARE(messages(main), QStringList{"Applicationen started."});
        QVERIFY(!(main->windowState() & Qt::WindowMinimized));
    }

    void storedTextsAreUsedAsTheyAre()
    {
        testsupport::storeSetting("ClientServerIP", "");
        testsupport::storeSetting("ClientPort", "abc");
        testsupport::storeSetting("ClientAutoStart", "True");
        FrmMain* main = frmMain();
        QCOMPARE(main->txtDebug[0]->text(), QString("127.0.0.1"));
        QCOMPARE(main->txtDebug[1]->text(), QString("abc"));
        // The attempt is made and fails the ordinary way.
        QVERIFY(QTest::qWaitFor([] { return !boxes().isEmpty(); }, 5000));
        QCOMPARE(boxes().first().style, 16);
        QCOMPARE(boxes().first().title, QString("Error in connection"));
        // Start-up never writes defaults back.
        QCOMPARE(GetSetting(SettingsStore::ClientServerIP), QString());
        QCOMPARE(GetSetting(SettingsStore::ClientPort), QString("abc"));
    }

    void dialogChangesTakeEffectAtTheNextStart()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->ToolsSettings->trigger();
        FrmSettings* dialog = forms::loadedOrNull<FrmSettings>();
        QVERIFY(dialog);
        dialog->txtDebug[0]->setText(server.portText());
        dialog->chkDebug[0]->setChecked(true);
        QTest::mouseClick(dialog->cmdButton[1], Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        // The running window keeps its fields and does not connect.
        QCOMPARE(main->txtDebug[1]->text(), QString("6996"));
        QCOMPARE(main->sckConnect().state(), int(Session::Closed));

        // The next start reads them.
        main->FileExit->trigger();
        testsupport::unloadAllWindows();
        main = frmMain();
        QCOMPARE(main->txtDebug[1]->text(), server.portText());
        QVERIFY(server.waitForClient());
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }, 5000));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
