// The client on a real X desktop (window manager, tray), observed and clicked with the X tools:
// outer window sizes; the pop-up's place and stacking; the tray's tooltip and message.

#include "popup/frmquillora.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/outersize.h"
#include "shell/twips.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolTip>

using testsupport::runTool;
using testsupport::toolNumbers;
using testsupport::xGeometry;

namespace {

// Waits until the window's outer size (its client area as the X server has it, grown by the
// frame the window manager announces), in twips, is as expected (0: any); what it was.
QString outerBecomes(const QWidget* window, int widthTwips, int heightTwips)
{
    const QString id = QString::number(window->winId());
    QSize outer;
    const bool ok = QTest::qWaitFor(
        [&] {
            const QList<int> at = xGeometry({"-id", id}),
                             frame = toolNumbers("= (\\d+), (\\d+), (\\d+), (\\d+)", "xprop",
                                                 {"-id", id, "_NET_FRAME_EXTENTS"});
            const QSize border(frame.value(0) + frame.value(1), frame.value(2) + frame.value(3));
            outer = QSize(at.value(2), at.value(3)) + border;
            return !border.isNull() && (!widthTwips || outer.width() == twips(widthTwips)) &&
                   (!heightTwips || outer.height() == twips(heightTwips));
        },
        10000);
    return ok ? QString() : QStringLiteral("outer %1x%2").arg(outer.width()).arg(outer.height());
}

QString hexId(WId id)
{
    return QStringLiteral("0x") + QString::number(id, 16);
}

// The window of our icon among those the tray's panel embeds, once it is there; 0 until then.
WId embeddedIcon()
{
    WId icon = 0;
    (void)QTest::qWaitFor(
        [&icon] {
            const QString panel =
                runTool("xdotool", {"search", "--classname", "^panel$"}).trimmed();
            const QString tray = // no panel yet: xwininfo would wait for a click
                panel.isEmpty() ? QString() : runTool("xwininfo", {"-tree", "-id", panel});
            for (const QWidget* widget : QApplication::topLevelWidgets())
                if (widget->internalWinId() && tray.contains(hexId(widget->internalWinId())))
                    icon = widget->internalWinId();
            return icon != 0;
        },
        10000);
    return icon;
}

// The pointer moved onto the icon (a synced move needs it elsewhere first), then `then`.
void pointAt(WId icon, const QStringList& then)
{
    runTool("xdotool", QStringList{"mousemove", "0", "0", "mousemove", "--sync", "--window",
                                   hexId(icon), "8", "8"} +
                           then);
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void initTestCase()
    {
        QVERIFY2(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000),
                 "run under scripts/with-desktop");
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup()
    {
        env.reset();
        ConnectionKeeper::times() = {};
    }

    // Sizes set are outer sizes; a window the desktop draws no frame for is that large.
    void windowsAreTheirOuterSizes()
    {
        QWidget unframed(nullptr, Qt::FramelessWindowHint);
        (new OuterSize(&unframed, OuterSize::Kind::Fixed))->setOuter(QSize(300, 200));
        unframed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&unframed));
        QTRY_COMPARE(unframed.size(), QSize(300, 200));
        FrmMain* main = frmMain();
        main->show(); // outerBecomes() waits until the window manager has framed it
        for (const int height :
             {FrmMain::ShortHeightTwips, FrmMain::TallHeightTwips, FrmMain::ShortHeightTwips}) {
            QCOMPARE(outerBecomes(main, FrmMain::WidthTwips, height), QString());
            main->chkDebug->click();
        }
        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        main->StatisticsStatistics->trigger();
        FrmStatistics* s = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(s && QTest::qWaitForWindowExposed(s));
        QCOMPARE(outerBecomes(s, FrmStatistics::LoadWidthTwips, 0), QString());
        QCOMPARE(s->windowWidth(), FrmStatistics::LoadWidthTwips);
    }

    // The pop-up lands at the top right of the 1024-pixel screen and stays over an ordinary
    // window that is raised and activated over it.
    void popUpTopRightAndAboveOtherWindows()
    {
        FrmQuillora* popUp = frmQuillora();
        popUp->showPopUp();
        QVERIFY(QTest::qWaitForWindowExposed(popUp));
        QTRY_COMPARE(xGeometry({"-id", QString::number(popUp->winId())}).mid(0, 2),
                     QList<int>({692, 16}));
        QWidget cover;
        cover.setGeometry(600, 0, 424, 400);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        runTool("xdotool", {"windowraise", hexId(cover.winId()), "windowactivate", "--sync",
                            hexId(cover.winId())});
        const QString stacking = // bottom to top
            runTool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}).simplified() + ',';
        const auto level = [&](WId w) { return stacking.indexOf(' ' + hexId(w) + ','); };
        QVERIFY2(level(cover.winId()) > 0 && level(popUp->winId()) > level(cover.winId()),
                 qPrintable(stacking));
    }

    // While the client waits to reconnect the tooltip and the status bar say so; the calls
    // missed are told in a tray message, also while the window is shown.
    void trayBackOffAndMissedCalls()
    {
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
        QTRY_VERIFY(main->statusPanel[0]->text().startsWith("Reconnecting in"));
        const WId icon = embeddedIcon();
        QVERIFY(icon);
        pointAt(icon, {"mousemove_relative", "1", "1"});
        QTRY_VERIFY_WITH_TIMEOUT( // empty while no tooltip shows
            QToolTip::text().contains("Quillora Client - Reconnecting at "), 10000);
        QVERIFY(QToolTip::text().size() <= 64);

        emit main->keeper().missedCalls(2); // as the keeper does once back
        const auto trayMessageShown = [] {
            for (QWidget* tip : QApplication::topLevelWidgets())
                for (const QLabel* label : tip->findChildren<QLabel*>())
                    if (tip->inherits("QBalloonTip") && tip->isVisible() &&
                        label->text() == QLatin1String("2 calls while disconnected"))
                        return true;
            return false;
        };
        QVERIFY(QTest::qWaitFor(trayMessageShown, 10000) && main->isVisible());
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
