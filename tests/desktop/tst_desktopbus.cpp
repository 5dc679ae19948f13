// The client with the desktop's D-Bus services played by the test on a private session bus, on
// a connection of its own so that every message crosses the bus daemon: the tray icon through
// the StatusNotifierWatcher, that tray going away, notifications of calls and missed calls.

#include "shell/frmmain.h"
#include "testsupport.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusPendingCall>
#include <QMutex>
#include <QThread>
#include <atomic>

using testsupport::logMessages;
using testsupport::storeSetting;

namespace {

QDBusConnection bus()
{
    static QDBusConnection own = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "t");
    return own;
}

// What the services below were sent, as "kind|field|field..." lines. They live on their own
// thread: the client asks the watcher while it blocks.
QMutex seenLock;
QStringList seen;
void record(const QStringList& fields)
{
    const QMutexLocker lock(&seenLock);
    seen << fields.join('|');
}
// The first line recorded since the last take, once there.
QString take()
{
    QString line;
    (void)QTest::qWaitFor([&line] {
        const QMutexLocker lock(&seenLock);
        return !seen.isEmpty() && !(line = seen.takeFirst()).isEmpty();
    });
    return line;
}

class Notifications : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    uint last = 0;

public:
    std::atomic<bool> refuse = false;
public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int)
    {
        if (refuse) {
            record({"refused"});
            sendErrorReply(QDBusError::AccessDenied, "refused");
            return 0;
        }
        const uint id = replaces ? replaces : ++last;
        record({"notify", app, QString::number(replaces), icon, summary, body,
                hints.value("desktop-entry").toString(), QString::number(id)});
        return id;
    }
};

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hosted)
public:
    bool hosted() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString& service) { record({"item", service}); }
};

// A method called across the bus, its reply awaited without blocking the client.
QList<QVariant> call(const QString& service, const QString& path, const QString& interface,
                     const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusPendingCall pending = bus().asyncCall(message);
    (void)QTest::qWaitFor([&pending] { return pending.isFinished(); });
    return pending.reply().arguments();
}

} // namespace

class TestDesktopBus : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    QThread services;
    Notifications notifications;
    Watcher watcher;

    bool own(const char* name) { return bus().interface()->registerService(name).isValid(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(bus().isConnected(), "run under dbus-run-session");
        QVERIFY(bus().registerObject("/org/freedesktop/Notifications", &notifications,
                                     QDBusConnection::ExportAllSlots));
        QVERIFY(bus().registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllProperties));
        notifications.moveToThread(&services);
        watcher.moveToThread(&services);
        services.start();
        QVERIFY(own("org.freedesktop.Notifications") && own("org.kde.StatusNotifierWatcher"));
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void cleanupTestCase()
    {
        services.quit();
        services.wait();
    }
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    // Started minimised with a tray there, the window is hidden in it and the icon's left
    // click brings it back. The D-Bus tray gone, with an X tray still running beside it: the
    // window is minimised and the log says why, once; the tray back, a click brings it back.
    void trayClickAndTrayGone()
    {
        storeSetting("ClientMinimized", "True");
        FrmMain* main = frmMain();
        QString item = take().section('|', 1); // its tray icon's service
        QVERIFY(main->isHiddenInTray() && !main->isVisible());
        const auto click = [&item] {
            call(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
        };
        click();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QVERIFY(bus().interface()->unregisterService("org.kde.StatusNotifierWatcher").isValid());
        main->MinimizeToTray();
        QTRY_VERIFY(main->isMinimized() && !main->isHiddenInTray());
        QCOMPARE(logMessages().mid(0, 3),
                 QStringList({"No system tray: minimized instead.", "Minimize to tray.",
                              "Maximize from tray."}));
        QVERIFY(own("org.kde.StatusNotifierWatcher"));
        item = take().section('|', 1);
        click();
        QVERIFY(QTest::qWaitFor([main] { return main->isVisible() && !main->isMinimized(); }));
    }

    // With the setting on a call goes to the desktop's notifications, its later messages
    // replacing it, another call anew, the peer's markup escaped; with it off nothing goes. The
    // missed-calls summary goes there too, else to the tray's. A refusing service is logged once.
    void callsAndMissedCallsNotified()
    {
        testsupport::LoopbackServer server;
        FrmMain* main = frmMain();
        QVERIFY(take().startsWith("item|")); // its tray icon
        QVERIFY(testsupport::connectMainWindow(server));
        server.send("Welcome to Quillora Server [0.92]");
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isGreeted(); }));
        const QString shown = "notify|Quillora Client|%1|quillora-client|%2|%3|quillora-client|%4";
        const auto callAt = [&](const char* time, const QByteArray& numberAndName, const char* on) {
            storeSetting("ClientDesktopNotify", on);
            const qsizetype logged = logMessages().size();
            server.send(QByteArray("CALL_:2024-05-01 10:00:") + time + ',' + numberAndName);
            QVERIFY(QTest::qWaitFor([logged] { return logMessages().size() > logged; }));
        };
        callAt("00", "555-0100,Ann", "True");
        QCOMPARE(take(), shown.arg(0).arg("Incoming call", "555-0100\nAnn").arg(1));
        callAt("00", "555-0100,<b>Ann & Co</b>", "True");
        QCOMPARE(
            take(),
            shown.arg(1).arg("Incoming call", "555-0100\n&lt;b&gt;Ann &amp; Co&lt;/b&gt;").arg(1));
        callAt("01", "555-0101,Bo", "False");
        callAt("02", "555-0102", "True");
        QCOMPARE(take(), shown.arg(0).arg("Incoming call", "555-0102").arg(2));
        callAt("03", QByteArray("555-0103,") + QByteArray(200, 'x'), "True"); // cut short
        QCOMPARE(take().section('|', 5, 5), "555-0103\n" + QString(79, 'x') + QChar(0x2026));

        emit main->keeper().missedCalls(2);
        QCOMPARE(take(), shown.arg(0).arg("Missed calls", "2 calls while disconnected").arg(4));
        storeSetting("ClientDesktopNotify", "False");
        emit main->keeper().missedCalls(1);
        QCOMPARE(take().section('|', 4, 5), QString("Quillora Client|1 call while disconnected"));

        notifications.refuse = true;
        callAt("04", "555-0104", "True");
        emit main->keeper().missedCalls(4); // refused, then the tray's message instead
        for (int i = 0; i < 3; ++i)
            QCOMPARE(take(), QString("refused"));
        notifications.refuse = false;
        callAt("05", "555-0105", "True");
        callAt("05", "555-0105", "True");
        const QString fresh = take();
        QCOMPARE(take().section('|', 2, 2), fresh.section('|', 7)); // replaced
        QCOMPARE(logMessages().filter("desktop notification"),
                 QStringList{"No desktop notification: org.freedesktop.DBus.Error.AccessDenied."});
    }
};

QTEST_MAIN(TestDesktopBus)
#include "tst_desktopbus.moc"
