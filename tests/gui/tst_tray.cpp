#include "tray/tray.h"

#include <QSignalSpy>
#include <QTest>
#include <climits>
#include <utility>

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

// The tray control on its own: the icon's add/update/remove, its image and event mode,
// and the click gate.
class TestTray : public QObject {
    Q_OBJECT
private slots:
    void showAddsUpdatesAndRemoves()
    {
        Tray tray;
        tray.Show(false);
        QVERIFY(!tray.IsVisible() && !tray.trayIcon()->isVisible());
        tray.setTrayToolTip(QStringLiteral("Calls"));
        QCOMPARE(tray.trayIcon()->toolTip(), QString()); // nothing reaches the tray before Show
        tray.Show(true);
        QVERIFY(tray.IsVisible() && tray.trayIcon()->isVisible());
        QCOMPARE(tray.trayIcon()->toolTip(), QString(" Calls "));
        QVERIFY(!tray.trayIcon()->icon().isNull()); // an empty picture until an image is set

        tray.setTrayToolTip(QString(70, QLatin1Char('x')));
        tray.Show(true);
        QVERIFY(tray.IsVisible());
        QCOMPARE(tray.trayIcon()->toolTip(), QLatin1Char(' ') + QString(63, QLatin1Char('x')));
        tray.Show(false);
        QVERIFY(!tray.IsVisible() && !tray.trayIcon()->isVisible());
    }

    void imageAndEventMode()
    {
        Tray tray;
        QPixmap wide(100, 50);
        wide.fill(Qt::blue);
        tray.setTrayImage(wide);
        QCOMPARE(tray.TrayImage().availableSizes(), QList<QSize>{QSize(32, 32)});
        const QImage image = tray.TrayImage().pixmap(32, 32).toImage();
        QCOMPARE(image.pixelColor(16, 16), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(16, 2).alpha(), 0); // proportions kept, centred
        QIcon icon(wide);
        tray.setTrayImage(icon);
        QCOMPARE(tray.TrayImage().cacheKey(), icon.cacheKey());

        for (auto [value, stored] : {std::pair{5, 1}, {-3, 0}, {1, 1}, {INT_MIN, 0}}) {
            tray.setEventMode(value);
            QCOMPARE(tray.EventMode(), stored);
        }

        // Persisted properties: defaults are not written, and read back when missing.
        Tray fresh;
        QVERIFY(fresh.WriteProperties().isEmpty());
        tray.setTrayToolTip(QStringLiteral("Front desk"));
        fresh.ReadProperties(tray.WriteProperties());
        QCOMPARE(fresh.TrayToolTip(), QString("Front desk"));
        QCOMPARE(fresh.TrayImage().cacheKey(), icon.cacheKey());
        fresh.ReadProperties({{"EventMode", 9}});
        QCOMPARE(fresh.EventMode(), 1);
        QCOMPARE(fresh.TrayToolTip(), QString("Quillora Client"));
        QVERIFY(fresh.TrayImage().isNull());
    }

    void clickGate()
    {
        Tray tray;
        QSignalSpy clicks(&tray, &Tray::MouseClick);
        press(tray, QSystemTrayIcon::Trigger);
        press(tray, QSystemTrayIcon::Context); // inside the quiet period: dropped
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.takeFirst().at(0).toInt(), 1);
        QVERIFY(waitQuiet(tray));
        press(tray, QSystemTrayIcon::Context);
        QCOMPARE(clicks.takeFirst().at(0).toInt(), 2);
        QVERIFY(waitQuiet(tray));
        for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
            press(tray, reason);
        QVERIFY(clicks.isEmpty() && !tray.clickBusy());

        // Presses while the owner's handler runs are dropped, however long it takes (a
        // message box runs its own event loop); the quiet period starts after it returns.
        connect(&tray, &Tray::MouseClick, this, [&tray] {
            QTest::qWait(3 * Tray::QuietMilliseconds);
            emit tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
        });
        press(tray, QSystemTrayIcon::Trigger);
        QCOMPARE(clicks.size(), 1);
        QVERIFY(tray.clickBusy());

        // Event mode 1 reports separate events instead.
        QVERIFY(waitQuiet(tray));
        tray.setEventMode(Tray::SeparateEvents);
        QSignalSpy right(&tray, &Tray::RightClick);
        press(tray, QSystemTrayIcon::Context);
        QCOMPARE(right.size(), 1);
        QCOMPARE(clicks.size(), 1);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
