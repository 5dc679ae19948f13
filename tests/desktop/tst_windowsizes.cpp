// Window sizes on a real desktop are outer sizes, the window manager's frame included,
// measured from outside with the X tools.

#include "settings/frmsettings.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/twips.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QTest>

namespace {

int field(const QString& text, const QString& pattern, int group = 1)
{
    return QRegularExpression(pattern).match(text).captured(group).toInt();
}

// The client area as the X server has it and the frame the window manager announces.
struct Measured {
    QSize client;
    QMargins frame;
    QSize outer() const { return client.grownBy(frame); }
    QString text() const
    {
        return QStringLiteral("client %1x%2, frame %3 %4 %5 %6")
            .arg(client.width())
            .arg(client.height())
            .arg(frame.left())
            .arg(frame.top())
            .arg(frame.right())
            .arg(frame.bottom());
    }
};

Measured measure(const QWidget* window)
{
    const QString id = QString::number(window->winId());
    const QString info = testsupport::runTool("xwininfo", {"-id", id});
    const QString extents = testsupport::runTool("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
    static const QString four = QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)");
    return {QSize(field(info, "Width: (\\d+)"), field(info, "Height: (\\d+)")),
            QMargins(field(extents, four, 1), field(extents, four, 3), field(extents, four, 2),
                     field(extents, four, 4))};
}

// Waits until the window, framed, has that outer size; says what it has otherwise.
bool outerBecomes(const QWidget* window, const QSize& expected, QString* seen)
{
    const bool ok = QTest::qWaitFor(
        [&] {
            const Measured now = measure(window);
            *seen = now.text();
            return !now.frame.isNull() && now.outer() == expected;
        },
        10000);
    return ok;
}

} // namespace

class TestWindowSizes : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void mainWindowHeightsAreOuterHeights()
    {
        FrmMain* main = frmMain();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QString seen;
        const int width = twips(FrmMain::WidthTwips);
        QVERIFY2(outerBecomes(main, QSize(width, twips(3165)), &seen), qPrintable(seen));
        main->chkDebug->click();
        QVERIFY2(outerBecomes(main, QSize(width, twips(5955)), &seen), qPrintable(seen));
        main->chkDebug->click();
        QVERIFY2(outerBecomes(main, QSize(width, twips(3165)), &seen), qPrintable(seen));
    }

    // Loaded 12000 twips wide, outside measure; the grid and the frame 390 twips less,
    // the Close button 1750 twips left of the right edge.
    void statisticsWidthIsTheOuterWidth()
    {
        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        frmMain()->StatisticsStatistics->trigger();
        FrmStatistics* s = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(s && QTest::qWaitForWindowExposed(s));
        QString seen;
        QVERIFY2(QTest::qWaitFor([&] {
                     const Measured now = measure(s);
                     seen = now.text();
                     return !now.frame.isNull() && now.outer().width() == twips(12000);
                 }),
                 qPrintable(seen));
        QCOMPARE(s->windowWidth(), 12000);
        QCOMPARE(s->MSFlexGrid1->width(), twips(12000 - 390));
        QCOMPARE(s->cmdButton->x(), twips(12000 - 1750));
        QVERIFY(s->cmdButton->geometry().right() < s->width());
    }

    // The settings dialog's size is its client area, at least 4380 by 5520 twips.
    void settingsClientArea()
    {
        frmMain()->ToolsSettings->trigger();
        FrmSettings* settings = forms::loadedOrNull<FrmSettings>();
        QVERIFY(settings && QTest::qWaitForWindowExposed(settings));
        QTRY_VERIFY(!measure(settings).frame.isNull());
        const Measured now = measure(settings);
        QVERIFY2(now.client.width() >= twips(FrmSettings::WidthTwips) &&
                     now.client.height() >= twips(FrmSettings::HeightTwips),
                 qPrintable(now.text()));
    }
};

QTEST_MAIN(TestWindowSizes)
#include "tst_windowsizes.moc"
