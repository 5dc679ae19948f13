#include "settings/frmsettings.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTest>

// The tray icon on a real X desktop with a system tray, observed and clicked from outside.
namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString hexId(WId id)
{
    return QStringLiteral("0x") + QString::number(id, 16);
}

// The X windows below the tray's panel.
QStringList windowsInTray()
{
    const QRegularExpression line(QStringLiteral("^( *)(0x[0-9a-f]+) "));
    QStringList ids;
    qsizetype panelIndent = -1;
    for (const QString& text : run("xwininfo", {"-root", "-tree"}).split(QLatin1Char('\n'))) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        const qsizetype indent = match.capturedLength(1);
        if (panelIndent >= 0 && indent > panelIndent) {
            ids << match.captured(2);
            continue;
        }
        panelIndent = text.contains(QLatin1String("(\"panel\" \"trayer\")")) ? indent : -1;
    }
    return ids;
}

// This program's window in the tray, once it is there; 0 if it does not come.
WId ourIcon()
{
    WId icon = 0;
    (void)QTest::qWaitFor(
        [&icon] {
            const QStringList inTray = windowsInTray();
            for (const QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->internalWinId() && inTray.contains(hexId(widget->internalWinId())))
                    icon = widget->internalWinId();
            }
            return icon != 0;
        },
        10000);
    return icon;
}

QString info(WId id)
{
    return run("xwininfo", {"-id", hexId(id)});
}

int field(const QString& info, const char* name)
{
    return QRegularExpression(QLatin1String(name) + QStringLiteral(":\\s+(-?\\d+)"))
        .match(info)
        .captured(1)
        .toInt();
}

bool waitMapped(WId id, bool mapped)
{
    return QTest::qWaitFor(
        [id, mapped] { return info(id).contains(QLatin1String("IsViewable")) == mapped; }, 10000);
}

// A real press of a mouse button (1 left, 3 right) on the icon. The pointer comes from
// elsewhere each time: a synchronous move to where it already is would never end.
void clickIcon(WId icon, int xButton)
{
    const QString where = info(icon);
    const int x = field(where, "Absolute upper-left X") + field(where, "Width") / 2;
    const int y = field(where, "Absolute upper-left Y") + field(where, "Height") / 2;
    run("xdotool", {"mousemove", "0", "0", "mousemove", "--sync", QString::number(x),
                    QString::number(y), "click", QString::number(xButton)});
}

QStringList messages(FrmMain* main)
{
    QStringList result;
    for (const QString& line : main->logLines())
        result << line.mid(6);
    return result;
}

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "run under scripts/with-desktop");
    }
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void hideAndRestoreByRealClicks()
    {
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QTest::mouseClick(main->chkDebug, Qt::LeftButton); // the tall height
        const WId window = main->winId(), icon = ourIcon();
        QVERIFY(icon);
        QCOMPARE(main->Tray1->TrayImage().cacheKey(), main->windowIcon().cacheKey());
        main->Tray1->Show(true); // updated in place: still one icon
        QVERIFY(QTest::qWaitFor([&] { return field(info(window), "Height") == main->height(); }));
        QCOMPARE(windowsInTray().filter(hexId(icon)).size(), 1);

        main->ToolsMinimizeToTray->trigger();
        main->ToolsMinimizeToTray->trigger();
        QVERIFY(waitMapped(window, false));
        QCOMPARE(messages(main).mid(0, 2), (QStringList{"Minimize to tray.", "Minimize to tray."}));
        const QStringList hiddenLog = main->logLines();

        QSignalSpy clicks(main->Tray1, &Tray::MouseClick);
        clickIcon(icon, 3);
        QVERIFY(QTest::qWaitFor([&clicks] { return clicks.size() == 1; }, 10000));
        QVERIFY(main->isHiddenInTray() && !main->isVisible());
        QVERIFY(!info(window).contains(QLatin1String("IsViewable")));
        QCOMPARE(main->logLines(), hiddenLog);

        QVERIFY(QTest::qWaitFor([main] { return !main->Tray1->clickBusy(); }));
        clickIcon(icon, 1);
        QVERIFY(waitMapped(window, true));
        QCOMPARE(clicks.last().at(0).toInt(), 1);
        QCOMPARE(main->logLines().mid(1), hiddenLog);
        QCOMPARE(messages(main).first(), QString("Maximize from tray."));
        QCOMPARE(field(info(window), "Height"), main->height());
        QVERIFY(main->txtInput->isVisible());

        // While shown, a left click does nothing (coming later than a double click would).
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 100);
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([&clicks] { return clicks.size() == 3; }, 10000));
        QCOMPARE(messages(main).first(), QString("Maximize from tray."));

        main->FileExit->trigger();
        QVERIFY(QTest::qWaitFor([icon] { return !windowsInTray().contains(hexId(icon)); }));
    }

    // A new user's way: tick auto-connect and start minimised, restart, and the client
    // connects from the tray; one click brings it up.
    void startsInTheTrayAndConnects()
    {
        testsupport::LoopbackServer server;
        frmMain()->ToolsSettings->trigger();
        FrmSettings* dialog = forms::loadedOrNull<FrmSettings>();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->txtDebug[0]->setText(server.portText());
        QTest::mouseClick(dialog->chkDebug[0], Qt::LeftButton);
        QTest::mouseClick(dialog->chkDebug[2], Qt::LeftButton);
        QTest::mouseClick(dialog->cmdButton[1], Qt::LeftButton);
        testsupport::unloadAllWindows();

        FrmMain* main = frmMain();
        QCOMPARE(messages(main),
                 (QStringList{"Minimize to tray.", "Connecting.", "Applicationen started."}));
        QVERIFY(main->isHiddenInTray() && !main->isVisible());
        QVERIFY(server.waitForClient());
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }));

        const WId icon = ourIcon();
        QVERIFY(icon);
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([main] { return main->isVisible(); }, 10000));
        QVERIFY(waitMapped(main->winId(), true));
        QCOMPARE(main->statusPanel[0]->text(), QString("Connected"));
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
