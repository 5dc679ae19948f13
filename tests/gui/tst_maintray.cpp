#include "shell/frmmain.h"
#include "testsupport.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QTest>

// The main window's use of its tray icon where the desktop offers no system tray (as
// here); hiding in and restoring from a real tray is covered by the desktop tests.
class TestMainTray : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void iconFromLoadToUnload()
    {
        FrmMain* main = frmMain();
        QPointer<Tray> tray = main->Tray1;
        QVERIFY(tray->IsVisible());
        QVERIFY(tray->trayIcon()->isVisible());
        QVERIFY(!main->windowIcon().isNull());
        QCOMPARE(tray->TrayImage().cacheKey(), main->windowIcon().cacheKey());
        QCOMPARE(tray->trayIcon()->toolTip(), QString(" Quillora Client "));
        QCOMPARE(tray->EventMode(), 0);

        main->FileExit->trigger();
        QVERIFY(tray);
        QVERIFY(!tray->IsVisible());
        QVERIFY(!tray->trayIcon()->isVisible());
    }

    void withoutATrayTheWindowIsMinimised()
    {
        QVERIFY2(!QSystemTrayIcon::isSystemTrayAvailable(), "this test expects no system tray");
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        main->ToolsMinimizeToTray->trigger();
        QCOMPARE(main->logLines().size(), 3);
        QCOMPARE(main->logLines()[0].mid(6), QString("No system tray: minimized instead."));
        QCOMPARE(main->logLines()[1].mid(6), QString("Minimize to tray."));
        QVERIFY(main->windowState() & Qt::WindowMinimized);
        QVERIFY(!main->isHidden());
        QVERIFY(!main->isHiddenInTray());

        // Presses on the icon change nothing while the window is not hidden.
        const QStringList log = main->logLines();
        emit main->Tray1->trayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(QTest::qWaitFor([main] { return !main->Tray1->clickBusy(); }, 5000));
        emit main->Tray1->trayIcon()->activated(QSystemTrayIcon::Context);
        QCOMPARE(main->logLines(), log);
        QVERIFY(main->windowState() & Qt::WindowMinimized);
    }
};

QTEST_MAIN(TestMainTray)
#include "tst_maintray.moc"
