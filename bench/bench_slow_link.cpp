// How long a contact list of about 1 MB takes from the query to the filled statistics
// grid: from the real server straight, and through a slow link (the fault proxy: 16 KB
// every 100 ms, requests held back 100 ms). Next to the slow link's figure stands the
// least the link itself needs, so what the client adds on top shows.

#include "faultproxy.h"
#include "serverdb.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Contacts = 10500;
constexpr qsizetype Burst = 16 * 1024;
constexpr int IntervalMs = 100;
constexpr int DirectRuns = 7;
constexpr int SlowRuns = 3;

struct Run {
    double handedOnMs = 0; // the reply handed on by the session
    double filledMs = 0;   // the grid filled
    qsizetype bytes = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Queries the contact list once; false when the grid was not filled within a minute.
bool query(FrmStatistics* window, Run* run)
{
    GridModel& grid = window->MSFlexGrid1->grid();
    grid.setRows(2);
    QElapsedTimer clock;
    QEventLoop loop;
    const QMetaObject::Connection received = QObject::connect(
        &frmMain()->sckConnect(), &Session::messageReceived, [&](const QString& message) {
            if (message.startsWith(QLatin1String("STATS:"))) {
                run->handedOnMs = double(clock.nsecsElapsed()) / 1e6;
                run->bytes = message.size();
            }
        });
    const QMetaObject::Connection filled =
        QObject::connect(&grid, &QAbstractItemModel::modelReset, [&] {
            if (grid.rows() > 2) {
                run->filledMs = double(clock.nsecsElapsed()) / 1e6;
                loop.quit();
            }
        });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    clock.start();
    window->cmdQuery->click();
    loop.exec();
    QObject::disconnect(received);
    QObject::disconnect(filled);
    return grid.rows() == Contacts + 2;
}

// Connects to the port and queries `runs` times; the median times, or false.
bool measure(quint16 port, int runs, Run* result)
{
    if (!testsupport::connectMainWindowTo(port))
        return false;
    showStatistics();
    FrmStatistics* window = frmStatistics();
    window->optStatMode[3]->setChecked(true);
    std::vector<double> handedOn;
    std::vector<double> filled;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!query(window, &run))
            return false;
        handedOn.push_back(run.handedOnMs);
        filled.push_back(run.filledMs);
        result->bytes = run.bytes;
    }
    result->handedOnMs = median(handedOn);
    result->filledMs = median(filled);
    forms::unload<FrmStatistics>();
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testsupport::Environment env;

    testsupport::RealServer server(QStringLiteral(QUILLORA_SERVER_BIN));
    if (!server.start()) { // creates the database
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    server.stop();
    if (!testsupport::addContacts(server.databasePath(), Contacts) || !server.start()) {
        std::fprintf(stderr, "could not prepare the server's database\n");
        return 1;
    }
    testsupport::FaultProxy proxy(server.port());
    proxy.setSlowLink(Burst, IntervalMs, IntervalMs);

    Run direct;
    Run slow;
    if (!measure(server.port(), DirectRuns, &direct) || !measure(proxy.port(), SlowRuns, &slow)) {
        std::fprintf(stderr, "a query was not answered in full\n");
        return 1;
    }
    // The link alone: the request's delay, then one burst at once and one every interval.
    const double linkMs = IntervalMs + double((slow.bytes - 1) / Burst) * IntervalMs;

    std::printf("contact list: %d records, %lld characters\n", Contacts,
                static_cast<long long>(direct.bytes));
    std::printf("                               reply handed on    grid filled\n");
    std::printf("direct (median of %d):        %10.1f ms %12.1f ms\n", DirectRuns,
                direct.handedOnMs, direct.filledMs);
    std::printf("slow link (median of %d):     %10.1f ms %12.1f ms\n", SlowRuns, slow.handedOnMs,
                slow.filledMs);
    std::printf("  the link's own least time:  %10.1f ms  (%lld B every %d ms, requests +%d ms)\n",
                linkMs, static_cast<long long>(Burst), IntervalMs, IntervalMs);
    std::printf("  above that:                 %10.1f ms %12.1f ms\n", slow.handedOnMs - linkMs,
                slow.filledMs - linkMs);
    std::printf("ratio slow / direct:          %10.1f %15.1f\n",
                slow.handedOnMs / direct.handedOnMs, slow.filledMs / direct.filledMs);
    std::printf("statistics time-out:          %10d ms  (counted while nothing arrives)\n",
                FrmStatistics::TimeoutTicks * FrmStatistics::TickMilliseconds);
    forms::unloadAll();
    return 0;
}
