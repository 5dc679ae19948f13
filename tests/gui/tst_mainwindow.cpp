#include "popup/frmquillora.h"
#include "session/dispatcher.h"
#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/twips.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/socket.h>

using testsupport::boxes;
using testsupport::logMessages;

namespace {

void checkLook(FrmMain* main, bool connected)
{
    if (!connected) {
        QCOMPARE(main->statusPanel[0]->text(), QString("Not connected"));
        QCOMPARE(main->statusPanel[1]->text(), QString());
    }
    QCOMPARE(main->cmdConnect[0]->isEnabled(), !connected);
    QCOMPARE(main->cmdConnect[1]->isEnabled(), connected);
    QCOMPARE(main->txtDebug[0]->isEnabled(), !connected);
    QCOMPARE(main->txtDebug[1]->isEnabled(), !connected);
    QCOMPARE(main->ToolAddEditContacts->isEnabled(), connected);
    QCOMPARE(main->StatisticsStatistics->isEnabled(), connected);
}

// Counts timer events, but for the blinking text caret of a focused field (the
// toolkit's, not a poll).
class TimerCounter final : public QObject {
public:
    QStringList firing;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer &&
            qstrcmp(watched->metaObject()->className(), "QWidgetLineControl") != 0)
            firing << QString::fromLatin1(watched->metaObject()->className()) + "/" +
                          watched->objectName();
        return false;
    }
};

// Open file descriptors of this process (the test's and the client's).
qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

QStringList timersFiringFor(int ms)
{
    TimerCounter counter;
    qApp->installEventFilter(&counter);
    QTest::qWait(ms);
    qApp->removeEventFilter(&counter);
    return counter.firing;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void loadAndDebugPane()
    {
        FrmMain* main = frmMain();
        main->show();
        QCOMPARE(main->windowTitle(), QString("Quillora Client 0.9"));
        QCOMPARE(modVariables().RequiredServerVersion, QString("0.92"));
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d Applicationen started\\.$")
                    .match(main->logLines().join('|'))
                    .hasMatch());
        QCOMPARE(main->txtDebug[0]->text() + " " + main->txtDebug[1]->text(),
                 QString("127.0.0.1 6996"));
        QCOMPARE(GetSetting(SettingsStore::ClientServerIP), QString()); // no default written
        QCOMPARE(main->statusPanel[1]->width(), twips(2340));
        checkLook(main, false);
        QVERIFY(!main->HelpQuilloraHelp->isEnabled());
        QStringList menus;
        for (QAction* action : main->menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, (QStringList{"&File", "&Tools", "S&tatistics", "&Help"}));
        QStringList keys;
        for (QAction* a :
             {main->FileExit, main->ToolsMinimizeToTray, main->ToolAddEditContacts,
              main->ToolsSettings, main->HelpQuilloraHelp, main->HelpHomepage, main->HelpAbout})
            keys << a->shortcut().toString();
        QCOMPARE(keys.join(' '), QString("Ctrl+X F12 Ctrl+E Ctrl+S F1 Ctrl+H Ctrl+A"));

        // Heights are outer heights, the frame included.
        QCOMPARE(main->frameGeometry().size(), QSize(twips(5700), twips(3165)));
        QVERIFY(!main->txtInput->isVisible());
        QTest::mouseClick(main->chkDebug, Qt::LeftButton, {},
                          QPoint(4, main->chkDebug->height() / 2));
        QCOMPARE(main->frameGeometry().height(), twips(5955));
        QVERIFY(main->txtInput->isVisible());
        main->chkDebug->click();
        QCOMPARE(main->frameGeometry().height(), twips(3165));
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
        QCOMPARE(logMessages(),
                 (QStringList{"IP:127.0.0.1 Port: " + server.portText(), "Connected.",
                              "Connecting.", "Applicationen started."}));
        QCOMPARE(main->txtDebug[0]->text(), QString("  127.0.0.1 ")); // field left as typed
        checkLook(main, true);

        QTest::mouseClick(main->cmdConnect[1], Qt::LeftButton);
        QCOMPARE(logMessages().first(), QString("Disconnected."));
        checkLook(main, false);
        QVERIFY(server.waitForDisconnect());
        QTest::qWait(50);
        // A local close raises no Close event; Disconnect while closed logs nothing.
        main->cmdConnect_Click(1);
        main->cmdConnect_Click(7);
        QCOMPARE(logMessages().count("Disconnected."), 1);
        QCOMPARE(logMessages().size(), 5);
        QVERIFY(boxes().isEmpty());
    }

    // An orderly close is only logged; a reset is a failure with its box.
    // The log keeps the newest lines, the oldest going once it is full.
    void theLogIsBounded()
    {
        FrmMain* main = frmMain();
        const int extra = 150;
        for (int i = 1; i <= FrmMain::MaxLogLines + extra; ++i)
            main->txtOut(QStringLiteral("line %1").arg(i));
        const QStringList lines = main->logLines();
        QCOMPARE(lines.size(), FrmMain::MaxLogLines);
        QCOMPARE(lines.first().mid(6), QString("line %1").arg(FrmMain::MaxLogLines + extra));
        QCOMPARE(lines.last().mid(6), QString("line %1").arg(extra + 1));
        main->txtOut(QStringLiteral("two\nlines"));
        QCOMPARE(main->logLines().size(), FrmMain::MaxLogLines);
        QCOMPARE(main->logLines().mid(0, 2).join('|').mid(6), QString("two|lines"));
        // Long lines: as many of the newest as the characters allow; a single line longer
        // than that stays alone.
        const QString wide(10000, 'w');
        for (int i = 0; i < 100; ++i)
            main->txtOut(wide);
        QCOMPARE(main->logLines().size(), FrmMain::MaxLogCharacters / (wide.size() + 7));
        main->txtOut(QString(FrmMain::MaxLogCharacters, 'h'));
        QCOMPARE(main->logLines().size(), 1);
    }

    void peerEnds_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("close") << false;
        QTest::newRow("reset") << true;
    }
    void peerEnds()
    {
        QFETCH(bool, reset);
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        const qsizetype descriptors = openDescriptors();
        QVERIFY(testsupport::connectMainWindow(server));
        reset ? server.resetClient() : server.closeClient();
        QTRY_COMPARE(logMessages().first(), QString("Disconnected."));
        QTest::qWait(100);
        QCOMPARE(logMessages().count("Disconnected."), 1);
        checkLook(main, false);
        // The client's socket is closed, the second descriptor kept on it too.
        QCOMPARE(openDescriptors(), descriptors);
        if (!reset) {
            QVERIFY(boxes().isEmpty());
            return;
        }
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().title, QString("Error in connection"));
        const QString description = "The connection was reset by the server.";
        QVERIFY(boxes().first().prompt.contains("\r\nError code: 1\r\nDescription: " + description +
                                                "\r\n"));
        QCOMPARE(logMessages()[1], "Error: 1 Description: " + description);
    }

    // A server that resets each connection the moment it accepts it: the attempt ends
    // with the reset's box after a connect or two, not in a storm of connects.
    void resetOnAccept()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int accepted = 0;
        connect(&server, &QTcpServer::newConnection, &server, [&server, &accepted] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++accepted;
                const linger reset{1, 0};
                ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                             sizeof reset);
                socket->abort();
                delete socket;
            }
        });
        FrmMain* main = frmMain();
        const qsizetype descriptors = openDescriptors();
        main->txtDebug[1]->setText(QString::number(server.serverPort()));
        main->cmdConnect_Click(0);
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(logMessages()[1],
                 QString("Error: 1 Description: The connection was reset by the server."));
        const int seen = accepted;
        QVERIFY2(seen >= 1 && seen <= 5, qPrintable(QString::number(seen)));
        QTest::qWait(200);
        QCOMPARE(accepted, seen);
        QCOMPARE(openDescriptors(), descriptors);
        checkLook(main, false);
    }

    void failedAttempts_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("refused") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("too large") << "99999";
        QTest::newRow("negative") << "-1";
    }
    void failedAttempts()
    {
        QFETCH(QString, port);
        if (port.isEmpty()) {
            testsupport::LoopbackServer closed; // a port nobody listens on once it is gone
            port = closed.portText();
        }
        FrmMain* main = frmMain();
        main->txtDebug[1]->setText(port);
        main->cmdConnect_Click(0);
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().title, QString("Error in connection"));
        QCOMPARE(boxes().first().style, 16);
        const QStringList lines = boxes().first().prompt.split("\r\n");
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.mid(0, 2), (QStringList{"Error in connecting to server.", ""}));
        QVERIFY(lines[2].startsWith("Error code: "));
        QVERIFY(lines[3].startsWith("Description: ") && lines[3].size() > 13);
        QCOMPARE(lines.mid(4), (QStringList{"", "Possible errors:",
                                            "* Make sure that the source is a Quillora server.",
                                            "* Make sure that the port is correct.",
                                            "* Only IP or hostname are valid input."}));
        const QString error = "Error: " + lines[2].mid(12) + " " + lines[3];
        QCOMPARE(logMessages().mid(0, 3), (QStringList{"Disconnected.", error, "Connecting."}));
        QTest::qWait(50);
        QCOMPARE(logMessages().count("Disconnected."), 1);
        checkLook(main, false);
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
        QCOMPARE(logMessages(), QStringList{"Applicationen started."});
    }

    void secondConnectAbandonsPendingAttempt()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->txtDebug[1]->setText(server.portText());
        main->cmdConnect_Click(0);
        checkLook(main, false); // pending counts as not connected
        main->cmdConnect_Click(0);
        QCOMPARE(logMessages().mid(0, 2), (QStringList{"Connecting.", "Connecting."}));
        QTRY_COMPARE(main->statusPanel[0]->text(), QString("Connected"));
        QTest::qWait(50);
        QCOMPARE(logMessages().count("Connected."), 1);
        QVERIFY(boxes().isEmpty());
    }

    void unloadClosesEverything()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        QVERIFY(testsupport::connectMainWindow(server));
        frmQuillora()->showPopUp();
        QPointer<FrmMain> guard(main);
        main->FileExit->trigger();
        QVERIFY(!forms::loadedOrNull<FrmQuillora>());
        QVERIFY(!forms::loadedOrNull<FrmMain>());
        QVERIFY(server.waitForDisconnect());
        QTRY_VERIFY(guard.isNull());
        // A message that was read before the exit must not load the windows again.
        sckConnect_DataArrival("CALL_:t,555-0100,Ann");
        QVERIFY(!forms::loadedOrNull<FrmMain>() && !forms::loadedOrNull<FrmQuillora>());
        QCOMPARE(testsupport::logMessages(), QStringList{"Applicationen started."}); // afresh
    }

    // The menu shortcuts win over the fields' own cut and select all.
    void menuShortcutsFromEveryField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");
        for (const char* field : {"txtDebug_0", "txtDebug_1", "txtInput"}) {
            QTest::addRow("%s Ctrl+A", field) << field << int(Qt::Key_A);
            QTest::addRow("%s Ctrl+X", field) << field << int(Qt::Key_X);
        }
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
        auto* line = qobject_cast<QLineEdit*>(widget);
        const QString text = line ? line->text() : main->txtInput->toPlainText();
        if (line)
            line->setSelection(1, 3);
        else
            main->txtInput->selectAll();

        QTest::keyClick(widget, Qt::Key(key), Qt::ControlModifier);
        if (key == Qt::Key_A)
            QVERIFY(forms::loadedOrNull<FrmAbout>() &&
                    forms::loadedOrNull<FrmAbout>()->isVisible());
        else
            QVERIFY(!forms::loadedOrNull<FrmMain>());
        QCOMPARE(line ? line->text() : main->txtInput->toPlainText(), text); // nothing cut
        if (line)
            QCOMPARE(line->selectedText(), text.mid(1, 3)); // nor all selected
    }

    // The tray menu's Connect and Disconnect are the buttons': enabled with them, doing
    // what they do.
    void trayMenuFollowsTheButtons()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        QMenu* menu = main->Tray1->trayIcon()->contextMenu();
        QVERIFY(menu);
        QStringList items;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator())
                items << action->text();
        }
        QCOMPARE(items, (QStringList{"&Show", "&Connect", "&Disconnect", "E&xit"}));
        const auto enabled = [main] {
            return std::make_pair(main->TrayConnect->isEnabled(),
                                  main->TrayDisconnect->isEnabled());
        };
        QCOMPARE(enabled(), std::make_pair(true, false));
        main->txtDebug[1]->setText(server.portText());
        main->TrayConnect->trigger();
        QVERIFY(server.waitForClient());
        QTRY_COMPARE(main->statusPanel[0]->text(), QString("Connected"));
        QCOMPARE(enabled(), std::make_pair(false, true));
        main->TrayDisconnect->trigger();
        QCOMPARE(logMessages().first(), QString("Disconnected."));
        QCOMPARE(enabled(), std::make_pair(true, false));
        QVERIFY(server.waitForDisconnect());
    }

    // Minimised for want of a tray (offscreen has none), the window comes back through
    // the tray menu's Show as through a left click on the icon; merely hidden, it is
    // shown again.
    void bringForward()
    {
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        main->ToolsMinimizeToTray->trigger();
        QVERIFY(main->isMinimized());
        main->TrayShow->trigger();
        QVERIFY(!main->isMinimized() && main->isVisible());
        QCOMPARE(logMessages().mid(0, 3),
                 (QStringList{"Maximize from tray.", "No system tray: minimized instead.",
                              "Minimize to tray."}));
        main->hide();
        main->bringForward();
        QVERIFY(QTest::qWaitForWindowActive(main));
        QCOMPARE(logMessages().count("Maximize from tray."), 1);
    }

    // Exit from the tray menu while the menu runs its own event loop: the menu outlives
    // its loop, then the window and the menu go.
    void exitFromTheTrayMenu()
    {
        FrmMain* main = frmMain();
        main->show();
        const QPointer<FrmMain> window(main);
        const QPointer<QMenu> menu(main->Tray1->trayIcon()->contextMenu());
        QAction* exit = main->TrayExit;
        QTimer::singleShot(0, menu, [menu, exit] {
            menu->setActiveAction(exit);
            QTest::keyClick(menu, Qt::Key_Return);
            // Whatever waits to be deleted goes now, still inside the menu's loop.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
        QAction* chosen = menu->exec(QPoint(10, 10));
        QVERIFY(menu);
        QCOMPARE(chosen, exit);
        QTRY_VERIFY(!forms::loadedOrNull<FrmMain>());
        QTRY_VERIFY(window.isNull());
        QTRY_VERIFY(menu.isNull());
    }

    // An icon theme that has the client's icon gives the window and the tray theirs; the
    // tray's is greyed while not connected.
    void iconFromTheTheme()
    {
        QTemporaryDir themes;
        QDir(themes.path()).mkpath("hicolor/32x32/apps");
        QFile index(themes.filePath("hicolor/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Hicolor\nDirectories=32x32/apps\n\n"
                    "[32x32/apps]\nSize=32\nType=Fixed\n");
        index.close();
        QImage red(32, 32, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(themes.filePath("hicolor/32x32/apps/quillora-client.png")));
        struct Restore {
            QStringList paths = QIcon::themeSearchPaths();
            QString name = QIcon::themeName();
            ~Restore()
            {
                QIcon::setThemeSearchPaths(paths);
                QIcon::setThemeName(name);
            }
        } restore;
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName("hicolor");

        FrmMain* main = frmMain();
        QCOMPARE(main->windowIcon().pixmap(32).toImage().pixelColor(16, 16), QColor(Qt::red));
        const QColor tray = main->Tray1->trayIcon()->icon().pixmap(32).toImage().pixelColor(16, 16);
        QVERIFY2(tray.alpha() > 0 && tray != QColor(Qt::red), qPrintable(tray.name()));
    }

    // An idle client, connected or not, has no timer firing: nothing polls.
    void noTimerFiresWhileIdle()
    {
        FrmMain* main = frmMain();
        main->show();
        QTest::qWait(200);
        QCOMPARE(timersFiringFor(1500), QStringList());

        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        // A statistics reply held for its quiet period, then handed on: the quiet
        // timer runs once and stops.
        server.send("STATS:LAST;#01");
        QTest::qWait(200);
        QCOMPARE(timersFiringFor(1500), QStringList());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
