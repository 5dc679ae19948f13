// The pop-up on a real X desktop with a window manager: where it lands on a 1024-pixel
// wide screen, and that an ordinary window cannot cover it.

#include "popup/frmquillora.h"
#include "shell/forms.h"
#include "testsupport.h"

#include <QApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

namespace {

// The window's absolute position as the X server reports it.
QPoint xPosition(WId id)
{
    const QString out = testsupport::runTool("xwininfo", {"-id", QString::number(id)});
    const auto x = QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)").match(out);
    const auto y = QRegularExpression("Absolute upper-left Y:\\s+(-?\\d+)").match(out);
    return QPoint(x.captured(1).toInt(), y.captured(1).toInt());
}

bool isGradientBlue(const QColor& c)
{
    return c.red() < 40 && c.green() > 120 && c.blue() > 200;
}

} // namespace

class TestPopUpDesktop : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void placedTopRightAndAboveOrdinaryWindows()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().width(), 1024);

        FrmQuillora* popUp = frmQuillora();
        popUp->showPopUp();
        QVERIFY(QTest::qWaitForWindowExposed(popUp));
        QTRY_COMPARE(xPosition(popUp->winId()), QPoint(692, 16));

        // An ordinary window over the same spot, brought to the front and activated.
        QWidget cover;
        cover.setWindowTitle("cover");
        cover.setStyleSheet("background: rgb(255, 0, 0);");
        cover.setGeometry(600, 0, 424, 400);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        cover.raise();
        cover.activateWindow();
        QTest::qWait(300);

        const QPoint probe(692 + 150, 16 + 240); // inside the pop-up, clear of its labels
        QTRY_VERIFY_WITH_TIMEOUT(isGradientBlue(QGuiApplication::primaryScreen()
                                                    ->grabWindow(0, probe.x(), probe.y(), 1, 1)
                                                    .toImage()
                                                    .pixelColor(0, 0)),
                                 3000);
        // The cover is really on screen next to it.
        const QColor beside = QGuiApplication::primaryScreen()
                                  ->grabWindow(0, 620, 300, 1, 1)
                                  .toImage()
                                  .pixelColor(0, 0);
        QCOMPARE(beside, QColor(255, 0, 0));
    }
};

QTEST_MAIN(TestPopUpDesktop)
#include "tst_popup_desktop.moc"
