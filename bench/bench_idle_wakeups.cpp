// How often the client wakes up while nothing happens: connected, and waiting to reconnect
// to a server that stays away, each with the window shown and hidden. Counts the context
// switches in which a thread gave up the processor to wait (each ends in a wake-up), over
// the whole process and on the main thread, per minute. Runs on the platform given (under
// scripts/with-desktop: the X desktop, whose own traffic counts too), offscreen where
// there is no display.

#include "shell/frmmain.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int PhaseMs = 20000;

// Voluntary context switches of one thread.
qint64 switchesOf(const QString& task)
{
    QFile status(task + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(24).trimmed().toLongLong();
    }
    return 0;
}

struct Switches {
    qint64 all = 0;
    qint64 main = 0;
};

Switches switchesNow()
{
    Switches result;
    const QString tasks = QStringLiteral("/proc/self/task");
    const QString self = QString::number(::getpid());
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const qint64 n = switchesOf(tasks + QLatin1Char('/') + task);
        result.all += n;
        if (task == self)
            result.main = n;
    }
    return result;
}

void measure(const char* phase)
{
    // The event loop alone: QTest::qWait would wake every few milliseconds itself.
    QEventLoop loop;
    QTimer::singleShot(PhaseMs, &loop, &QEventLoop::quit);
    const Switches before = switchesNow();
    loop.exec();
    const Switches after = switchesNow();
    const double perMinute = 60000.0 / PhaseMs;
    std::printf("%-40s %7.0f wake-ups a minute, %7.0f on the main thread\n", phase,
                double(after.all - before.all) * perMinute,
                double(after.main - before.main) * perMinute);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testsupport::Environment env;
    testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("True"));
    testsupport::storeSetting(QStringLiteral("ClientReconnectAttemps"), QStringLiteral("0"));
    ConnectionKeeper::times() = {300, 300};
    // The retries themselves stay out of the figures: the first is minutes away.
    ConnectionKeeper::times().delayScale = 1000;
    testsupport::LoopbackServer server;
    FrmMain* main = frmMain();
    main->show();
    if (!testsupport::connectMainWindow(server)) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }
    server.send("Welcome to Quillora Server [0.92]");
    QTest::qWait(1000); // logged in and settled
    std::printf("platform: %s, %d s a phase\n", qPrintable(QGuiApplication::platformName()),
                PhaseMs / 1000);
    measure("connected, window shown");
    main->hide();
    measure("connected, window hidden");
    main->show();

    server.stopListening();
    server.closeClient();
    if (!QTest::qWaitFor([main] { return main->keeper().reconnecting(); })) {
        std::fprintf(stderr, "the client is not waiting to reconnect\n");
        return 1;
    }
    measure("waiting to reconnect, window shown");
    main->hide();
    measure("waiting to reconnect, window hidden");
    return 0;
}
