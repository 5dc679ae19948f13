#include "settings/frmsettings.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QDir>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>

using testsupport::boxes;

namespace {

// What the store file holds, "key=value" in key order, read past the program's reader.
QString stored()
{
    QSettings file(SettingsStore::location(), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Settings"));
    QStringList pairs;
    for (const QString& key : file.childKeys())
        pairs << key + QLatin1Char('=') + file.value(key).toString();
    return pairs.join(QLatin1Char('|'));
}

void store(const QStringList& pairs)
{
    for (const QString& pair : pairs)
        testsupport::storeSetting(pair.section(QLatin1Char('='), 0, 0),
                                  pair.section(QLatin1Char('='), 1));
}

// The five boxes (port, host, seconds, password, attempts) with "(off)" when disabled,
// then the four ticks (auto-connect, auto-close, minimised, reconnect).
QString shown(FrmSettings* d)
{
    QStringList parts;
    for (QLineEdit* box : d->txtDebug)
        parts << box->text() + (box->isEnabled() ? "" : "(off)");
    for (QCheckBox* box : d->chkDebug)
        parts << (box->isChecked() ? "x" : "-");
    return parts.join(QLatin1Char('|'));
}

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList messages(FrmMain* main)
{
    QStringList result;
    for (const QString& line : main->logLines())
        result << line.mid(6);
    return result;
}

} // namespace

// The settings dialog and the start-up loader, against a real store file.
class TestSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void dialogLoadsFromTheStore()
    {
        FrmSettings* dialog = frmSettings();
        QCOMPARE(shown(dialog), QString("6996|127.0.0.1|30(off)||5(off)|-|-|-|-"));
        QCOMPARE(stored(), QString()); // defaults shown are not written
        QTest::keyClicks(dialog->txtDebug[3], "s3cret pw");
        QCOMPARE(dialog->txtDebug[3]->displayText(), QString(9, QLatin1Char('*')));
        dialog->close();

        store({"ClientServerIP=calls.example.org", "ClientPort=7001",
               "ClientServerPassword=horse battery", "ClientAutoStart=True",
               "ClientPopUpClose=True", "ClientPopUpCloseTime=12", "ClientReconnect=true",
               "ClientReconnectAttemps=9", "ClientMinimized=TRUE"});
        FrmSettings* again = frmSettings();
        QCOMPARE(shown(again), QString("7001|calls.example.org|12|horse battery|9(off)|x|x|-|-"));
        // Ok writes the flags as shown: only exactly "True" was on.
        click(again->cmdButton[1]);
        QVERIFY(stored().contains("ClientAutoStart=True|ClientMinimized=False|"
                                  "ClientPopUpClose=True|ClientPopUpCloseTime=12|"
                                  "ClientPort=7001|ClientReconnect=False|"));
    }

    void okWritesTheNineKeysAsShown()
    {
        // Nothing changed: the defaults shown become stored values.
        click(frmSettings()->cmdButton[1]);
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QCOMPARE(stored(), QString("ClientAutoStart=False|ClientMinimized=False|"
                                   "ClientPopUpClose=False|ClientPopUpCloseTime=30|"
                                   "ClientPort=6996|ClientReconnect=False|"
                                   "ClientReconnectAttemps=5|ClientServerIP=127.0.0.1|"
                                   "ClientServerPassword="));

        // The ticks enable their rows; a disabled box's text is still saved; texts are
        // saved as typed; a box neither ticked nor unticked counts as on.
        FrmSettings* dialog = frmSettings();
        dialog->show();
        click(dialog->chkDebug[1]);
        QVERIFY(dialog->txtDebug[2]->isEnabled());
        dialog->txtDebug[2]->setText(QStringLiteral("ten"));
        click(dialog->chkDebug[1]);
        click(dialog->chkDebug[3]);
        QVERIFY(dialog->txtDebug[4]->isEnabled());
        click(dialog->chkDebug[3]);
        click(dialog->chkDebug[0]);
        QCOMPARE(shown(dialog), QString("6996|127.0.0.1|ten(off)||5(off)|x|-|-|-"));
        dialog->txtDebug[1]->setText(QStringLiteral(" host "));
        dialog->txtDebug[0]->setText(QStringLiteral("abc"));
        dialog->txtDebug[3]->setText(QStringLiteral("p,a=s s;[x]\"q"));
        dialog->chkDebug[2]->setTristate(true);
        dialog->chkDebug[2]->setCheckState(Qt::PartiallyChecked);
        click(dialog->cmdButton[1]);
        QCOMPARE(stored(), QString("ClientAutoStart=True|ClientMinimized=True|"
                                   "ClientPopUpClose=False|ClientPopUpCloseTime=ten|"
                                   "ClientPort=abc|ClientReconnect=False|"
                                   "ClientReconnectAttemps=5|ClientServerIP= host |"
                                   "ClientServerPassword=p,a=s s;[x]\"q"));
        QVERIFY(boxes().isEmpty());
    }

    void passwordRule_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("1") << "x" << false;
        QTest::newRow("8") << "äöüßéèêë" << false;
        QTest::newRow("9") << "123456789" << true;
    }
    void passwordRule()
    {
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        FrmSettings* dialog = frmSettings();
        dialog->txtDebug[1]->setText(QStringLiteral("typed.host"));
        dialog->txtDebug[3]->setText(password);
        click(dialog->cmdButton[1]);
        if (accepted) {
            QVERIFY(boxes().isEmpty() && !forms::loadedOrNull<FrmSettings>());
            QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), password);
            return;
        }
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().prompt,
                 QString("Your password must be more than 8 characters long."));
        QCOMPARE(boxes().first().style, 64);
        QCOMPARE(boxes().first().title, QString("Settings"));
        QCOMPARE(stored(), QString());
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), dialog);
        QCOMPARE(dialog->txtDebug[1]->text(), QString("typed.host"));
    }

    void cancelAndCloseSaveNothing()
    {
        FrmMain* main = frmMain();
        main->ToolsSettings->trigger();
        FrmSettings* dialog = forms::loadedOrNull<FrmSettings>();
        QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
        dialog->txtDebug[0]->setText(QStringLiteral("8000"));
        // Chosen again while open: the same window, entries not refilled.
        main->ToolsSettings->trigger();
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), dialog);
        QCOMPARE(dialog->txtDebug[0]->text(), QString("8000"));
        for (auto key : {Qt::Key_Return, Qt::Key_Escape}) // neither presses a button
            QTest::keyClick(dialog->cmdButton[1], key);
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), dialog);
        click(dialog->cmdButton[0]);
        QVERIFY(!forms::loadedOrNull<FrmSettings>());

        frmSettings()->close(); // the title bar's close
        main->ToolsSettings->trigger();
        main->FileExit->trigger(); // the main window's unload
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QCOMPARE(stored(), QString());
    }

    void focusOrder()
    {
        store({"ClientPopUpClose=True", "ClientReconnect=True"});
        FrmSettings* d = frmSettings();
        d->show();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d));
        d->txtDebug[1]->setFocus();
        const QList<QWidget*> expected{d->txtDebug[1], d->txtDebug[0],  d->chkDebug[0],
                                       d->chkDebug[1], d->txtDebug[2],  d->txtDebug[3],
                                       d->chkDebug[2], d->cmdButton[0], d->cmdButton[1],
                                       d->chkDebug[3], d->txtDebug[4],  d->txtDebug[1]};
        QList<QWidget*> visited{QApplication::focusWidget()};
        while (visited.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, expected);
    }

    void failingStoreIsReported()
    {
        // A folder where the store's file belongs: nobody, not even the superuser, can
        // write it.
        QVERIFY(QDir().mkpath(SettingsStore::location()));
        click(frmSettings()->cmdButton[1]);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().prompt, QString("The changes could not be saved."));
        QCOMPARE(boxes().first().style, 48);
        QCOMPARE(boxes().first().title, QString("Settings"));
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
    }

    // Start-up. This platform has no system tray, so start-minimised takes the minimise
    // fallback here; the desktop tests cover the real tray.
    void startUp_data()
    {
        QTest::addColumn<QString>("autoStart");
        QTest::addColumn<QString>("minimized");
        QTest::addColumn<QStringList>("log");
        const QString started = "Applicationen started.", connecting = "Connecting.";
        QTest::newRow("neither") << "False"
                                 << "" << QStringList{started};
        QTest::newRow("lower case") << "true"
                                    << "true" << QStringList{started};
        QTest::newRow("upper case") << "TRUE"
                                    << "TRUE" << QStringList{started};
        QTest::newRow("trailing space") << "True "
                                        << "False" << QStringList{started};
        QTest::newRow("connect") << "True"
                                 << "False" << QStringList{connecting, started};
        QTest::newRow("connect, then tray")
            << "True"
            << "True"
            << QStringList{"No system tray: minimized instead.", "Minimize to tray.", connecting,
                           started};
    }
    void startUp()
    {
        QFETCH(QString, autoStart);
        QFETCH(QString, minimized);
        QFETCH(QStringList, log);
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        testsupport::LoopbackServer server;
        store({"ClientPort=" + server.portText(), "ClientAutoStart=" + autoStart,
               "ClientMinimized=" + minimized});

        FrmMain* main = frmMain();
        QCOMPARE(main->txtDebug[0]->text(), QString("127.0.0.1"));
        QCOMPARE(main->txtDebug[1]->text(), server.portText());
        QCOMPARE(messages(main), log);
        QVERIFY(!main->isHiddenInTray());
        QCOMPARE(bool(main->windowState() & Qt::WindowMinimized), log.size() == 4);
        if (log.size() == 1) {
            QCOMPARE(main->sckConnect().state(), int(Session::Closed));
            return;
        }
        // The attempt goes on while the window is out of the way.
        QVERIFY(server.waitForClient());
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }, 5000));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
