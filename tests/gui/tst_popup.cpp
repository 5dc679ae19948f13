#include "popup/elidedlabel.h"
#include "popup/frmquillora.h"
#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/twips.h"
#include "testsupport.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

namespace {

FrmQuillora* loaded()
{
    return forms::loadedOrNull<FrmQuillora>();
}

FrmQuillora* openPopUp()
{
    FrmQuillora* window = frmQuillora();
    window->showPopUp();
    return window;
}

} // namespace

class TestPopUp : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void designPlacementAndLook()
    {
        FrmQuillora* window = openPopUp();
        QCOMPARE(window->size(), QSize(312, 262));
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint) &&
                flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY((flags & Qt::WindowType_Mask) == Qt::Tool);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(window->pos(), QPoint(screen.right() + 1 - 312 - 20, screen.top() + 16));
        QVERIFY(QTime::fromString(window->lblTimeOfCall->text(), "HH:mm").isValid());
        QVERIFY(!window->lblCount->isVisibleTo(window));
        for (QLabel* label : window->lblUserInfo) // captions fit at the design font
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));

        // Long details end in "…" but keep their whole text.
        auto* email = static_cast<ElidedLabel*>(window->lblIncoming[5]);
        QVERIFY(!email->isElided());
        email->setText("margaret.holloway-fenwick@long-company-name.example.org");
        QVERIFY(email->isElided());
        QVERIFY(email->text().endsWith(".example.org"));

        // The drawn gradient runs from the top-left colour to the bottom-right one.
        const QImage image = window->grab().toImage();
        const QColor topLeft = image.pixelColor(1, 1);
        const QColor bottomRight = image.pixelColor(image.width() - 2, image.height() - 2);
        QVERIFY(qAbs(topLeft.red() - 1) <= 2 && qAbs(topLeft.green() - 196) <= 2);
        QVERIFY(qAbs(bottomRight.red() - 14) <= 2 && qAbs(bottomRight.green() - 146) <= 2);

        // Showing it again neither loads nor moves it.
        window->move(window->pos() + QPoint(-5, 5));
        const QPoint moved = window->pos();
        openPopUp();
        QCOMPARE(loaded(), window);
        QCOMPARE(window->pos(), moved);
    }

    void countdown_data()
    {
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("shown"); // -1: no countdown
        QTest::newRow("30 s") << "True"
                              << "30" << 30;
        QTest::newRow("0.4 s") << "True"
                               << "0.4" << 0;
        QTest::newRow("zero") << "True"
                              << "0" << -1;
        QTest::newRow("letters") << "True"
                                 << "abc" << -1;
        QTest::newRow("switched off") << "False"
                                      << "30" << -1;
    }
    void countdown()
    {
        QFETCH(QString, close);
        QFETCH(QString, time);
        QFETCH(int, shown);
        testsupport::storeSetting(SettingsStore::ClientPopUpClose, close);
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, time);
        FrmQuillora* window = openPopUp();
        if (shown < 0) {
            QVERIFY(!window->lblCount->isVisible());
            QVERIFY(!window->timerPopUp->isActive());
            QCOMPARE(window->timerEnabled(), close == "True");
            QCOMPARE(window->timerInterval(), 0);
            return;
        }
        QVERIFY(window->lblCount->isVisible());
        QCOMPARE(window->lblCount->text(), QString::number(shown));
        QVERIFY(window->timerPopUp->isActive());
        QCOMPARE(window->timerPopUp->interval(), 1000);
        // Closes on the tick after the one that showed 0: N + 1 ticks.
        for (int tick = 1; tick <= shown; ++tick) {
            window->timerPopUp_Timer();
            QCOMPARE(window->lblCount->text(), QString::number(shown - tick));
            QVERIFY(loaded());
        }
        window->timerPopUp_Timer();
        QVERIFY(!loaded());
        QVERIFY(!window->timerPopUp->isActive());
    }

    void realTimerClosesAfterOneSecond()
    {
        testsupport::storeSetting(SettingsStore::ClientPopUpClose, "True");
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "0.4");
        openPopUp();
        QVERIFY(loaded());
        QTRY_VERIFY_WITH_TIMEOUT(!loaded(), 3000);
    }

    void secondShowKeepsCountdown()
    {
        testsupport::storeSetting(SettingsStore::ClientPopUpClose, "True");
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "30");
        FrmQuillora* window = openPopUp();
        for (int i = 0; i < 20; ++i)
            window->timerPopUp_Timer();
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "5");
        openPopUp();
        QCOMPARE(window->lblCount->text(), QString("10"));
        QCOMPARE(modVariables().PopUpSecondsLeft, 10);
    }

    void closeBox()
    {
        testsupport::storeSetting(SettingsStore::ClientPopUpClose, "True");
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "30");
        FrmQuillora* window = openPopUp();
        window->timerPopUp_Timer();
        QTest::mouseClick(window->lblNail, Qt::LeftButton);
        QVERIFY(!loaded());
        QVERIFY(!window->timerPopUp->isActive());
        testsupport::unloadAllWindows();
        // The next one counts down in full.
        FrmQuillora* next = openPopUp();
        QCOMPARE(next->lblCount->text(), QString("30"));
    }
};

QTEST_MAIN(TestPopUp)
#include "tst_popup.moc"
