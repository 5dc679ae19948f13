// The tray icon on a real X desktop with a system tray, observed and clicked from outside.

#include "shell/frmmain.h"
#include "shell/twips.h"
#include "testsupport.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolTip>
#include <csignal>

namespace {

QString hexId(WId id)
{
    return QStringLiteral("0x") + QString::number(id, 16);
}

// The tray's panel and every window embedded in it, as the X server lists them.
QString trayTree()
{
    const QString panel =
        testsupport::runTool("xdotool", {"search", "--classname", "^panel$"}).trimmed();
    return testsupport::runTool("xwininfo", {"-tree", "-id", panel});
}

// A real press of button 1 (left) or 3 (right); a synced move needs a pointer elsewhere.
void clickIcon(WId icon, int button)
{
    testsupport::runTool("xdotool", {"mousemove", "0", "0", "mousemove", "--sync", "--window",
                                     hexId(icon), "8", "8", "click", QString::number(button)});
}

// The window of our icon in the tray, once the tray has embedded it; 0 until then.
WId embeddedIcon()
{
    const QString tray = trayTree();
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() && tray.contains(hexId(widget->internalWinId())))
            return widget->internalWinId();
    }
    return 0;
}

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT
private slots:
    // Started minimised into the tray: right click leaves it, left click restores it.
    void startsInTheTrayAndComesBackOnALeftClick()
    {
        // The tray may still be starting on a busy machine.
        QVERIFY2(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000),
                 "run under scripts/with-desktop");
        QApplication::setQuitOnLastWindowClosed(false);
        testsupport::Environment env;
        testsupport::storeSetting(QStringLiteral("ClientMinimized"), QStringLiteral("True"));
        FrmMain* main = frmMain();
        QVERIFY(main->isHiddenInTray() && !main->isVisible());
        WId icon = 0;
        QVERIFY(QTest::qWaitFor([&icon] { return (icon = embeddedIcon()) != 0; }, 10000));

        QSignalSpy clicks(main->Tray1, &Tray::MouseClick);
        clickIcon(icon, 3);
        QVERIFY(QTest::qWaitFor([&clicks] { return clicks.size() == 1; }, 10000));
        QCOMPARE(clicks.first().at(0).toInt(), 2);
        // The right click opens the tray menu and leaves the window where it is.
        QMenu* menu = main->Tray1->trayIcon()->contextMenu();
        QVERIFY(QTest::qWaitFor([menu] { return menu->isVisible(); }, 10000));
        QVERIFY(main->isHiddenInTray() && !main->isVisible());
        menu->hide();
        QVERIFY(QTest::qWaitFor([main] { return !main->Tray1->clickBusy(); }));
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([main] { return main->isVisible(); }, 10000));
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QVERIFY(main->logLines().first().endsWith(QLatin1String("Maximize from tray.")));

        // Hidden from the menu with the log pane open: it comes back just as it was.
        main->chkDebug->click();
        const int height = main->height();
        const QStringList log = main->logLines();
        main->ToolsMinimizeToTray->trigger();
        QVERIFY(QTest::qWaitFor([main] { return !main->isVisible(); }));
        QTest::qWait(QApplication::doubleClickInterval() + 100); // not a double click
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([main] { return main->isVisible(); }, 10000));
        QCOMPARE(main->height(), height);
        QCOMPARE(main->logLines().mid(2), log);
        QVERIFY(main->txtInput->isVisible());

        main->FileExit->trigger();
        QVERIFY(QTest::qWaitFor([icon] { return !trayTree().contains(hexId(icon)); }));
    }

    // Hidden in the tray, the window comes back through the tray menu's Show, clicked
    // for real, and through another start of the client asking for it.
    void theTrayMenuAndAnotherStartBringTheWindowBack()
    {
        QVERIFY(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000));
        testsupport::Environment env;
        FrmMain* main = frmMain();
        main->show();
        main->ToolsMinimizeToTray->trigger();
        QVERIFY(main->isHiddenInTray() && !main->isVisible());
        WId icon = 0;
        QVERIFY(QTest::qWaitFor([&icon] { return (icon = embeddedIcon()) != 0; }, 10000));

        clickIcon(icon, 3);
        QMenu* menu = main->Tray1->trayIcon()->contextMenu();
        QVERIFY(QTest::qWaitFor([menu] { return menu->isVisible(); }, 10000));
        const QPoint show = menu->mapToGlobal(menu->actionGeometry(main->TrayShow).center());
        testsupport::runTool("xdotool", {"mousemove", "--sync", QString::number(show.x()),
                                         QString::number(show.y()), "click", "1"});
        QVERIFY(QTest::qWaitFor([main] { return main->isVisible(); }, 10000));
        QVERIFY(!main->isHiddenInTray());
        QCOMPARE(testsupport::logMessages().first(), QString("Maximize from tray."));

        main->ToolsMinimizeToTray->trigger();
        QVERIFY(QTest::qWaitFor([main] { return !main->isVisible(); }));
        main->bringForward();
        QVERIFY(QTest::qWaitForWindowActive(main));
        QVERIFY(!main->isHiddenInTray());
        QCOMPARE(testsupport::logMessages().count("Maximize from tray."), 2);
        main->FileExit->trigger();
    }

    // While the client waits to reconnect, the tray's tooltip and the status bar say so.
    void theBackOffShowsInTheTrayAndTheStatusBar()
    {
        QVERIFY(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000));
        testsupport::Environment env;
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("True"));
        testsupport::storeSetting(QStringLiteral("ClientReconnectAttemps"), QStringLiteral("0"));
        ConnectionKeeper::times() = {0, 0};
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(testsupport::connectMainWindow(server));
        server.send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }));
        server.stopListening();
        server.closeClient();
        QVERIFY(QTest::qWaitFor([main] {
            return main->statusPanel[0]->text().startsWith(QLatin1String("Reconnecting in"));
        }));
        QCOMPARE(main->statusPanel[1]->text(), QString("attempt 1"));

        WId icon = 0;
        QVERIFY(QTest::qWaitFor([&icon] { return (icon = embeddedIcon()) != 0; }, 10000));
        testsupport::runTool("xdotool", {"mousemove", "0", "0", "mousemove", "--sync", "--window",
                                         hexId(icon), "8", "8", "mousemove_relative", "1", "1"});
        QVERIFY(QTest::qWaitFor(
            [] { return QToolTip::isVisible() && QToolTip::text().contains("Reconnecting"); },
            10000));
        QVERIFY(QToolTip::text().contains("Quillora Client - Reconnecting at "));
        QVERIFY(QToolTip::text().size() <= 64);
        main->FileExit->trigger();
        ConnectionKeeper::times() = {};
    }

    // Calls missed while the client was away, learnt after a reconnect, are told in one
    // tray message, also while the window is shown (its log pane is hidden).
    void missedCallsAreToldFromTheTray()
    {
        QVERIFY(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000));
        testsupport::Environment env;
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("True"));
        ConnectionKeeper::times() = {0, 0};
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(testsupport::connectMainWindow(server));
        server.send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }));
        QTest::qWait(1100); // the calls below are later than the last word heard
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        const QString old =
            QDateTime::currentDateTime().addSecs(-3600).toString("yyyy-MM-dd HH:mm:ss");
        server.closeClient();
        QVERIFY(QTest::qWaitFor([&server] { return server.connections() == 2; }, 5000));
        server.clearReceived();
        server.send("Welcome to Quillora Server [0.92]");
        QVERIFY(server.waitForReceived(14));
        server.send(("STATS:LAST;3#03Ann," + now + ",555-0101,Bob," + now + ",555-0102,Cy," + old +
                     ",555-0103")
                        .toUtf8());

        const auto trayMessages = [] {
            QStringList texts;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (!widget->inherits("QBalloonTip") || !widget->isVisible())
                    continue;
                for (const QLabel* label : widget->findChildren<QLabel*>())
                    texts << label->text();
            }
            return texts;
        };
        QVERIFY(QTest::qWaitFor(
            [&] { return trayMessages().contains("2 calls while disconnected"); }, 10000));
        QVERIFY(trayMessages().contains("Quillora Client"));
        QVERIFY(main->isVisible());
        main->FileExit->trigger();
        ConnectionKeeper::times() = {};
    }

    // No tray at the start: the window is minimised instead. A tray that starts later
    // (a panel slower than the client) shows the icon, and a left click on it brings
    // the window back as it was.
    void aTrayStartedLaterBringsTheWindowBack()
    {
        const qint64 trayer = qEnvironmentVariable("WITH_DESKTOP_TRAYER_PID").toLongLong();
        QVERIFY2(trayer > 0, "run under scripts/with-desktop");
        ::kill(static_cast<pid_t>(trayer), SIGTERM);
        QVERIFY(QTest::qWaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));

        testsupport::Environment env;
        testsupport::storeSetting(QStringLiteral("ClientMinimized"), QStringLiteral("True"));
        FrmMain* main = frmMain();
        QVERIFY(!main->isHiddenInTray());
        main->show(); // as the program does with a window not hidden in the tray
        QVERIFY(QTest::qWaitFor([main] { return main->isMinimized(); }));
        QCOMPARE(testsupport::logMessages().first(), QString("No system tray: minimized instead."));

        QProcess tray;
        const QStringList command = qEnvironmentVariable("WITH_DESKTOP_TRAYER").split(' ');
        tray.start(command.first(), command.mid(1));
        WId icon = 0;
        QVERIFY(QTest::qWaitFor([&icon] { return (icon = embeddedIcon()) != 0; }, 20000));
        clickIcon(icon, 1);
        QVERIFY(
            QTest::qWaitFor([main] { return main->isVisible() && !main->isMinimized(); }, 10000));
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QCOMPARE(testsupport::logMessages().first(), QString("Maximize from tray."));
        // Its short height, as before.
        QTRY_COMPARE(main->frameGeometry().height(), twips(FrmMain::ShortHeightTwips));
        main->FileExit->trigger();
        tray.kill();
        tray.waitForFinished();
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
