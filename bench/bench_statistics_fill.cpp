// How fast a large "Top callers" reply reaches the statistics grid: 10,000 records of
// nine fields (about 1 MB) from the moment the server writes them to the socket until
// the grid is filled, next to the time of merely splitting the same text at ",".

#include "session/modvariables.h"
#include "session/protocol.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int Records = 10000;
constexpr int SplitRuns = 20;
constexpr int FillRuns = 10;
constexpr int SocketRuns = 7;

QByteArray topCallersReply()
{
    QByteArray reply = "STATS:TOPS;" + QByteArray::number(Records) + "#00";
    for (int i = 1; i <= Records; ++i) {
        if (i > 1)
            reply += ',';
        const QByteArray n = QByteArray::number(i);
        reply += n + ",Contact Number " + n + " Example," + "555 01" + n + ",555 02" + n +
                 ",555 03" + n + ",555 04" + n + ",contact." + n + "@example.org," +
                 QByteArray::number(Records - i + 1) + "," + QByteArray::number(i % 5);
    }
    return reply;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(qint64 nanoseconds)
{
    return static_cast<double>(nanoseconds) / 1e6;
}

qint64 now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The server's end on a thread of its own, as a separate server process would be.
class Peer final : public QObject {
public:
    // Runs on the peer's thread.
    void start()
    {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        port = m_server->serverPort();
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            m_client = m_server->nextPendingConnection();
            m_client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(m_client, &QTcpSocket::readyRead, this, [this] {
                const QMutexLocker lock(&m_mutex);
                m_received += m_client->readAll();
            });
        });
    }
    void write(const QByteArray& bytes)
    {
        QMetaObject::invokeMethod(this, [this, bytes] {
            sentAt = now();
            m_client->write(bytes);
        });
    }
    QByteArray takeReceived()
    {
        const QMutexLocker lock(&m_mutex);
        QByteArray received;
        received.swap(m_received);
        return received;
    }

    quint16 port = 0;
    std::atomic<qint64> sentAt{0};

private:
    QTcpServer* m_server = nullptr;
    QTcpSocket* m_client = nullptr;
    QMutex m_mutex;
    QByteArray m_received;
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QByteArray bytes = topCallersReply();
    const QString text = protocol::decode(bytes);
    const qsizetype fields = text.count(QLatin1Char(',')) + 1;
    std::printf("Top callers reply: %d records, %lld fields, %lld bytes\n", Records,
                static_cast<long long>(fields), static_cast<long long>(bytes.size()));

    // Merely splitting the text.
    std::vector<double> splits;
    std::vector<double> parses;
    for (int run = 0; run < SplitRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        const QStringList parts = text.split(QLatin1Char(','));
        splits.push_back(ms(clock.nsecsElapsed()));
        clock.restart();
        const QStringList parsed = protocol::statsFields(text);
        parses.push_back(ms(clock.nsecsElapsed()));
        if (parts.size() != fields || parsed.size() != fields) {
            std::printf("unexpected field count %lld\n", static_cast<long long>(parsed.size()));
            return 1;
        }
    }
    const double split = median(splits);

    // The client: main window connected to the peer, statistics window open.
    QThread peerThread;
    Peer peer;
    peer.moveToThread(&peerThread);
    peerThread.start();
    QMetaObject::invokeMethod(
        &peer, [&peer] { peer.start(); }, Qt::BlockingQueuedConnection);
    FrmMain* main = frmMain();
    main->txtDebug[0]->setText(QStringLiteral("127.0.0.1"));
    main->txtDebug[1]->setText(QString::number(peer.port));
    main->cmdConnect_Click(0);
    if (!QTest::qWaitFor(
            [main] {
                return main->sckConnect().isConnected() &&
                       main->statusPanel[0]->text() == QLatin1String("Connected");
            },
            5000)) {
        std::printf("could not connect\n");
        return 1;
    }
    showStatistics();
    FrmStatistics* window = frmStatistics();
    window->optStatMode[2]->setChecked(true);
    GridModel& grid = window->MSFlexGrid1->grid();

    // The poller's tick alone, with the reply waiting in the mailbox.
    std::vector<double> ticks;
    std::vector<double> painted;
    for (int run = 0; run < FillRuns; ++run) {
        modVariables().StatsReply = text;
        modVariables().StatsReplyReady = ModVariables::True;
        QElapsedTimer clock;
        clock.start();
        window->timerStats_Timer();
        ticks.push_back(ms(clock.nsecsElapsed()));
        (void)window->MSFlexGrid1->grab(); // renders the visible rows
        painted.push_back(ms(clock.nsecsElapsed()));
    }
    if (grid.rows() != Records + 2 ||
        grid.textMatrix(Records, 6) != QStringLiteral("contact.%1@example.org").arg(Records)) {
        std::printf("grid not filled as expected (%d rows)\n", grid.rows());
        return 1;
    }

    // From the socket: query, the peer writes the whole reply, the grid fills.
    std::atomic<qint64> dispatched{0};
    std::atomic<qint64> filled{0};
    QObject::connect(&main->sckConnect(), &Session::messageReceived, [&] { dispatched = now(); });
    QObject::connect(&grid, &QAbstractItemModel::modelReset, [&] {
        if (grid.rows() > 2)
            filled = now();
    });
    std::vector<double> totals;
    std::vector<double> assembled;
    std::vector<double> waits;
    for (int run = 0; run < SocketRuns; ++run) {
        grid.setRows(2);
        window->cmdQuery->click();
        QByteArray request;
        if (!QTest::qWaitFor([&] { return (request += peer.takeReceived()) == "STATS:TOPS;10"; },
                             5000)) {
            std::printf("no request\n");
            return 1;
        }
        dispatched = 0;
        filled = 0;
        // A real event loop: waiting helpers that sleep between rounds would add to the time.
        QEventLoop loop;
        const QMetaObject::Connection done = QObject::connect(
            &grid, &QAbstractItemModel::modelReset, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        peer.write(bytes);
        loop.exec();
        QObject::disconnect(done);
        if (filled == 0) {
            std::printf("no fill\n");
            return 1;
        }
        totals.push_back(ms(filled - peer.sentAt));
        assembled.push_back(ms(dispatched - peer.sentAt));
        waits.push_back(ms(filled - dispatched));
    }

    const double tick = median(ticks);
    const double total = median(totals);
    std::printf("split only (QString::split at ','):      %8.2f ms  (median of %d)\n", split,
                SplitRuns);
    std::printf("reply fields (split and trimmed):        %8.2f ms\n", median(parses));
    std::printf("poller tick filling the grid:            %8.2f ms  (median of %d)\n", tick,
                FillRuns);
    std::printf("  ... and the grid painted:              %8.2f ms\n", median(painted));
    std::printf("socket write to grid filled:             %8.2f ms  (median of %d)\n", total,
                SocketRuns);
    std::printf("  of which arrival and assembly          %8.2f ms  (incl. %d ms quiet wait)\n",
                median(assembled), Session::DefaultQuietMilliseconds);
    std::printf("  of which next tick and fill            %8.2f ms  (tick every %d ms)\n",
                median(waits), FrmStatistics::TickMilliseconds);
    std::printf("ratio fill / split:                      %8.1f\n", tick / split);
    std::printf("ratio socket-to-grid / split:            %8.1f\n", total / split);

    forms::unloadAll();
    QMetaObject::invokeMethod(
        &peer, [&peer] { peer.moveToThread(QCoreApplication::instance()->thread()); },
        Qt::BlockingQueuedConnection);
    peerThread.quit();
    peerThread.wait();
    return 0;
}
