#include "tray/tray.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <climits>

namespace {

void press(Tray& tray, QSystemTrayIcon::ActivationReason reason)
{
    emit tray.trayIcon()->activated(reason);
}

bool waitQuiet(const Tray& tray)
{
    return QTest::qWaitFor([&tray] { return !tray.clickBusy(); }, 5000);
}

} // namespace

// The tray control on its own: showing and updating the icon, its image, tooltip and
// event mode, the click gate, and its persisted properties.
class TestTray : public QObject {
    Q_OBJECT
private slots:
    void showAddsUpdatesAndRemoves()
    {
        Tray tray;
        QVERIFY(!tray.IsVisible());
        tray.Show(false);
        QVERIFY(!tray.IsVisible());
        QVERIFY(!tray.trayIcon()->isVisible());

        QPixmap red(16, 16);
        red.fill(Qt::red);
        const QIcon icon(red);
        tray.setTrayImage(icon);
        tray.setTrayToolTip(QStringLiteral("Calls"));
        // Nothing reaches the tray before Show.
        QCOMPARE(tray.trayIcon()->toolTip(), QString());

        tray.Show(true);
        QVERIFY(tray.IsVisible());
        QVERIFY(tray.trayIcon()->isVisible());
        QCOMPARE(tray.trayIcon()->toolTip(), QString(" Calls "));
        QCOMPARE(tray.trayIcon()->icon().cacheKey(), icon.cacheKey());

        // Changes wait for the next Show(True), which updates the icon in place.
        tray.setTrayToolTip(QString(70, QLatin1Char('x')));
        QCOMPARE(tray.trayIcon()->toolTip(), QString(" Calls "));
        tray.Show(true);
        QVERIFY(tray.IsVisible());
        QCOMPARE(tray.trayIcon()->toolTip(), QLatin1Char(' ') + QString(63, QLatin1Char('x')));

        tray.Show(false);
        QVERIFY(!tray.IsVisible());
        QVERIFY(!tray.trayIcon()->isVisible());
        tray.Show(false);
        QVERIFY(!tray.IsVisible());

        // Shown before any image: an empty picture, never a null icon.
        Tray bare;
        bare.setTrayToolTip(QString());
        bare.Show(true);
        QVERIFY(!bare.trayIcon()->icon().isNull());
        QCOMPARE(bare.trayIcon()->toolTip(), QString());
    }

    void imageBecomesAnIcon()
    {
        Tray tray;
        QVERIFY(tray.TrayImage().isNull());

        // A wide bitmap: scaled into 32 x 32 with its proportions, centred.
        QPixmap wide(100, 50);
        wide.fill(Qt::blue);
        tray.setTrayImage(wide);
        const QIcon converted = tray.TrayImage();
        QCOMPARE(converted.availableSizes(), QList<QSize>{QSize(32, 32)});
        const QImage image = converted.pixmap(32, 32).toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        QCOMPARE(image.pixelColor(16, 16), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(16, 2).alpha(), 0);
        QCOMPARE(image.pixelColor(16, 29).alpha(), 0);
        QCOMPARE(image.pixelColor(0, 16), QColor(Qt::blue));

        // An icon is kept as it is, with all its sizes.
        QIcon icon;
        for (int side : {16, 48}) {
            QPixmap pixmap(side, side);
            pixmap.fill(Qt::green);
            icon.addPixmap(pixmap);
        }
        tray.setTrayImage(icon);
        QCOMPARE(tray.TrayImage().cacheKey(), icon.cacheKey());
        QCOMPARE(tray.TrayImage().availableSizes().size(), 2);

        tray.setTrayImage(QPixmap());
        QVERIFY(tray.TrayImage().isNull());
        tray.setTrayImage(icon);
        tray.setTrayImage(QIcon());
        QVERIFY(tray.TrayImage().isNull());
    }

    void eventModeIsClamped_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stored");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("5") << 5 << 1;
        QTest::newRow("-3") << -3 << 0;
        QTest::newRow("largest") << INT_MAX << 1;
        QTest::newRow("smallest") << INT_MIN << 0;
    }
    void eventModeIsClamped()
    {
        QFETCH(int, value);
        QFETCH(int, stored);
        Tray tray;
        tray.setEventMode(value);
        QCOMPARE(tray.EventMode(), stored);
    }

    void pressesPassTheClickGate()
    {
        Tray tray;
        QSignalSpy clicks(&tray, &Tray::MouseClick);

        press(tray, QSystemTrayIcon::Trigger);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.takeFirst().at(0).toInt(), 1);
        // A second press inside the quiet period is dropped.
        QVERIFY(tray.clickBusy());
        press(tray, QSystemTrayIcon::Context);
        press(tray, QSystemTrayIcon::Trigger);
        QCOMPARE(clicks.size(), 0);

        QVERIFY(waitQuiet(tray));
        press(tray, QSystemTrayIcon::Context);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.takeFirst().at(0).toInt(), 2);

        // The double-click message, the middle button and the rest raise nothing and do
        // not close the gate.
        QVERIFY(waitQuiet(tray));
        for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                            QSystemTrayIcon::Unknown}) {
            press(tray, reason);
            QVERIFY(!tray.clickBusy());
        }
        QCOMPARE(clicks.size(), 0);
    }

    void quietPeriodStartsWhenTheHandlerReturns()
    {
        Tray tray;
        int handled = 0;
        connect(&tray, &Tray::MouseClick, this, [&tray, &handled](int) {
            ++handled;
            // Presses that arrive while the owner is busy are dropped...
            emit tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
            // ...however long the owner takes (a message box runs its own event loop).
            QTest::qWait(3 * Tray::QuietMilliseconds);
            emit tray.trayIcon()->activated(QSystemTrayIcon::Context);
        });
        press(tray, QSystemTrayIcon::Trigger);
        QCOMPARE(handled, 1);
        QVERIFY(tray.clickBusy());
        QVERIFY(waitQuiet(tray));
        press(tray, QSystemTrayIcon::Trigger);
        QCOMPARE(handled, 2);
    }

    void separateEventsInEventMode1()
    {
        Tray tray;
        tray.setEventMode(Tray::SeparateEvents);
        QSignalSpy combined(&tray, &Tray::MouseClick);
        QSignalSpy left(&tray, &Tray::LeftClick);
        QSignalSpy right(&tray, &Tray::RightClick);
        press(tray, QSystemTrayIcon::Trigger);
        QVERIFY(waitQuiet(tray));
        press(tray, QSystemTrayIcon::Context);
        QCOMPARE(left.size(), 1);
        QCOMPARE(right.size(), 1);
        QCOMPARE(combined.size(), 0);
        // Reporting does not change the mode.
        QCOMPARE(tray.EventMode(), Tray::SeparateEvents);
    }

    void persistedProperties()
    {
        Tray fresh;
        QCOMPARE(fresh.TrayToolTip(), QString("Quillora Client"));
        QCOMPARE(fresh.EventMode(), 0);
        QVERIFY(fresh.TrayImage().isNull());
        // Defaults are not written.
        QVERIFY(fresh.WriteProperties().isEmpty());

        Tray designed;
        QPixmap picture(32, 32);
        picture.fill(Qt::yellow);
        designed.setTrayImage(QIcon(picture));
        designed.setTrayToolTip(QStringLiteral("Front desk"));
        designed.setEventMode(1);
        const QVariantMap bag = designed.WriteProperties();
        QCOMPARE(bag.keys(), (QStringList{"EventMode", "TrayImage", "TrayToolTip"}));

        Tray loaded;
        loaded.ReadProperties(bag);
        QCOMPARE(loaded.TrayToolTip(), QString("Front desk"));
        QCOMPARE(loaded.EventMode(), 1);
        QCOMPARE(loaded.TrayImage().pixmap(32, 32).toImage().pixelColor(5, 5), QColor(Qt::yellow));

        // Missing entries read as their defaults; a stored mode out of range is clamped.
        loaded.ReadProperties({{"EventMode", 9}});
        QCOMPARE(loaded.EventMode(), 1);
        QCOMPARE(loaded.TrayToolTip(), QString("Quillora Client"));
        QVERIFY(loaded.TrayImage().isNull());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
