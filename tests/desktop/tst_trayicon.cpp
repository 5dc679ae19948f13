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

// The tray icon on a real X desktop with a system tray: it is seen in the tray, hiding
// unmaps the main window, and real clicks on the icon bring the window back.
namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString hexId(WId id)
{
    return QStringLiteral("0x") + QString::number(id, 16);
}

// The X window ids below the tray's panel, as the X server reports them.
QStringList windowsInTray()
{
    QStringList ids;
    int panelIndent = -1;
    for (const QString& line : run("xwininfo", {"-root", "-tree"}).split(QLatin1Char('\n'))) {
        const qsizetype indent =
            line.size() - QString(line).remove(QRegularExpression("^ +")).size();
        if (panelIndent >= 0 && indent > panelIndent) {
            ids << line.trimmed().section(QLatin1Char(' '), 0, 0);
            continue;
        }
        panelIndent = -1;
        if (line.contains(QLatin1String("(\"panel\" \"trayer\")")))
            panelIndent = int(indent);
    }
    return ids;
}

// This program's windows that sit in the tray.
QList<WId> ourIconsInTray()
{
    const QStringList inTray = windowsInTray();
    QList<WId> ours;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() && inTray.contains(hexId(widget->internalWinId())))
            ours << widget->internalWinId();
    }
    return ours;
}

WId waitForOurIcon()
{
    WId icon = 0;
    (void)QTest::qWaitFor(
        [&icon] {
            const QList<WId> ours = ourIconsInTray();
            icon = ours.isEmpty() ? 0 : ours.first();
            return icon != 0;
        },
        10000);
    return icon;
}

int infoNumber(const QString& info, const QString& field)
{
    const QRegularExpression pattern(QRegularExpression::escape(field) +
                                     QStringLiteral(":\\s+(-?\\d+)"));
    return pattern.match(info).captured(1).toInt();
}

QRect screenRect(WId id)
{
    const QString info = run("xwininfo", {"-id", hexId(id)});
    return QRect(infoNumber(info, "Absolute upper-left X"),
                 infoNumber(info, "Absolute upper-left Y"), infoNumber(info, "Width"),
                 infoNumber(info, "Height"));
}

bool isMapped(WId id)
{
    return run("xwininfo", {"-id", hexId(id)}).contains(QLatin1String("Map State: IsViewable"));
}

bool waitMapped(WId id, bool mapped)
{
    return QTest::qWaitFor([id, mapped] { return isMapped(id) == mapped; }, 10000);
}

// A real press of the mouse button (1 left, 3 right) on the middle of the icon. The
// pointer comes from elsewhere each time: a synchronous move to where it already is
// would wait forever.
void clickIcon(WId icon, int xButton)
{
    const QPoint centre = screenRect(icon).center();
    run("xdotool", {"mousemove", "0", "0", "mousemove", "--sync", QString::number(centre.x()),
                    QString::number(centre.y()), "click", QString::number(xButton)});
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

    void iconInTheTrayFromStartToExit()
    {
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        const WId icon = waitForOurIcon();
        QVERIFY(icon);
        const QRect where = screenRect(icon);
        QVERIFY(where.width() > 0 && where.height() > 0);
        QCOMPARE(main->Tray1->trayIcon()->toolTip(), QString(" Quillora Client "));

        // Shown again: updated in place, still one icon.
        main->Tray1->Show(true);
        QCoreApplication::processEvents();
        QCOMPARE(ourIconsInTray(), QList<WId>{icon});

        main->FileExit->trigger();
        QVERIFY(QTest::qWaitFor([icon] { return !windowsInTray().contains(hexId(icon)); }, 10000));
    }

    void hiddenAndRestoredByRealClicks()
    {
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QTest::mouseClick(main->chkDebug, Qt::LeftButton);
        const WId window = main->winId();
        const WId icon = waitForOurIcon();
        QVERIFY(icon);
        QVERIFY(
            QTest::qWaitFor([&] { return screenRect(window).height() == main->height(); }, 5000));
        const int height = screenRect(window).height();

        main->ToolsMinimizeToTray->trigger();
        QVERIFY(waitMapped(window, false));
        QVERIFY(main->isHiddenInTray());
        // Twice in a row: logged twice, still hidden.
        QTest::keyClick(main, Qt::Key_F12);
        main->ToolsMinimizeToTray->trigger();
        QCOMPARE(messages(main).mid(0, 3),
                 (QStringList{"Minimize to tray.", "Minimize to tray.", "Applicationen started."}));
        QVERIFY(!isMapped(window));
        const QStringList hiddenLog = main->logLines();

        QSignalSpy clicks(main->Tray1, &Tray::MouseClick);
        clickIcon(icon, 3);
        QVERIFY(QTest::qWaitFor([&clicks] { return clicks.size() == 1; }, 10000));
        QCOMPARE(clicks.last().at(0).toInt(), 2);
        QVERIFY(!isMapped(window));
        QVERIFY(main->isHiddenInTray());
        QCOMPARE(main->logLines(), hiddenLog);

        QVERIFY(QTest::qWaitFor([main] { return !main->Tray1->clickBusy(); }, 5000));
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([&clicks] { return clicks.size() == 2; }, 10000));
        QCOMPARE(clicks.last().at(0).toInt(), 1);
        QVERIFY(waitMapped(window, true));
        QVERIFY(!main->isHiddenInTray());
        QCOMPARE(messages(main).first(), QString("Maximize from tray."));
        QCOMPARE(main->logLines().mid(1), hiddenLog);
        QCOMPARE(screenRect(window).height(), height);
        QVERIFY(main->txtInput->isVisible());

        // A left click while the window is shown does nothing. (It must come later than a
        // double click would, whose second press is not a click of its own.)
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 100);
        QVERIFY(!main->Tray1->clickBusy());
        const QStringList shownLog = main->logLines();
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([&clicks] { return clicks.size() == 3; }, 10000));
        QCOMPARE(main->logLines(), shownLog);
        QVERIFY(isMapped(window));
    }

    // A new user's way: tick auto-connect and start minimised, restart, and the client
    // connects from the tray; one click brings it up.
    void startsInTheTrayAndConnects()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        main->show();
        main->ToolsSettings->trigger();
        FrmSettings* dialog = forms::loadedOrNull<FrmSettings>();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->txtDebug[0]->setText(server.portText());
        QTest::mouseClick(dialog->chkDebug[0], Qt::LeftButton);
        QTest::mouseClick(dialog->chkDebug[2], Qt::LeftButton);
        QTest::mouseClick(dialog->cmdButton[1], Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        main->FileExit->trigger();
        testsupport::unloadAllWindows();

        main = frmMain();
        QCOMPARE(messages(main),
                 (QStringList{"Minimize to tray.", "Connecting.", "Applicationen started."}));
        QVERIFY(main->isHiddenInTray());
        QVERIFY(!main->isVisible());
        QVERIFY(server.waitForClient());
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }, 5000));

        const WId icon = waitForOurIcon();
        QVERIFY(icon);
        clickIcon(icon, 1);
        QVERIFY(QTest::qWaitFor([main] { return main->isVisible(); }, 10000));
        QVERIFY(waitMapped(main->winId(), true));
        QCOMPARE(messages(main).first(), QString("Maximize from tray."));
        QCOMPARE(main->statusPanel[0]->text(), QString("Connected"));
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
