// How fast a large "Top callers" reply reaches the statistics grid: 10,000 records of
// nine fields (about 1 MB) from the moment the server writes them to the socket until
// the grid is filled and painted, next to a bare table view fed the same bytes, for a
// server that answers at once, one that thinks 100 ms first and the real server with
// 100,000 contacts (timed from the request). Also the time of merely splitting the text.

#include "session/modvariables.h"
#include "session/protocol.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"
#ifdef QUILLORA_SERVER_BIN
#include "serverdb.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#endif

#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
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
constexpr int ThinkMs = 100;
constexpr int RealContacts = 100000;
constexpr int RealRuns = 5;

QByteArray topCallersReply()
{
    QByteArray reply = "STATS:TOPS;" + QByteArray::number(Records) + "#09";
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

// The server's end on a thread of its own, as a separate server process would be: each
// request is answered with the reply, after the server has thought `thinkMs`.
class Peer final : public QObject {
public:
    explicit Peer(QByteArray reply) : m_reply(std::move(reply)) {}
    // Runs on the peer's thread.
    void start()
    {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        port = m_server->serverPort();
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* client = m_server->nextPendingConnection();
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(client, &QTcpSocket::readyRead, this, [this, client] {
                if (!client->readAll().contains("STATS:"))
                    return;
                QTimer::singleShot(thinkMs.load(), this, [this, client] {
                    sentAt = now();
                    client->write(m_reply);
                });
            });
        });
    }

    quint16 port = 0;
    std::atomic<int> thinkMs{0};
    std::atomic<qint64> sentAt{0};

private:
    QByteArray m_reply;
    QTcpServer* m_server = nullptr;
};

// The least a client has to do with the reply: read until its known size is in, split it
// at ",", show the fields nine to a row in a plain table view and paint that.
class FieldTable final : public QAbstractTableModel {
public:
    static constexpr int Columns = 9;
    void setFields(QStringList fields)
    {
        beginResetModel();
        m_fields = std::move(fields);
        endResetModel();
    }
    int rowCount(const QModelIndex& = {}) const override
    {
        return static_cast<int>(m_fields.size() / Columns);
    }
    int columnCount(const QModelIndex& = {}) const override { return Columns; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        return m_fields.at(index.row() * Columns + index.column());
    }

private:
    QStringList m_fields;
};

class BareClient final {
public:
    bool connectTo(quint16 port)
    {
        m_view.setModel(&m_table);
        m_view.resize(800, 400);
        m_view.show();
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000);
    }
    // Sends the request and waits for `size` bytes from "STATS:" on; the time the table
    // was painted (0 when the reply did not come).
    qint64 query(const QByteArray& request, qsizetype size)
    {
        QByteArray in;
        qsizetype at = -1;
        QEventLoop loop;
        const QMetaObject::Connection read =
            QObject::connect(&m_socket, &QTcpSocket::readyRead, [&] {
                in += m_socket.readAll();
                if (at < 0)
                    at = in.indexOf("STATS:");
                if (at >= 0 && in.size() - at >= size)
                    loop.quit();
            });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        m_socket.write(request);
        loop.exec();
        QObject::disconnect(read);
        if (at < 0 || in.size() - at < size)
            return 0;
        m_table.setFields(QString::fromUtf8(in.mid(at, size)).split(QLatin1Char(',')));
        (void)m_view.grab();
        return now();
    }

private:
    QTcpSocket m_socket;
    FieldTable m_table;
    QTableView m_view;
};

// One query from the statistics window: when the last byte came in and when the grid
// had been filled and painted (0 when it was not filled).
struct ClientRun {
    qint64 lastByte = 0;
    qint64 painted = 0;
    qsizetype bytes = 0; // the reply's
};

ClientRun clientQuery(FrmStatistics* window)
{
    GridModel& grid = window->MSFlexGrid1->grid();
    grid.setRows(2);
    ClientRun run;
    QEventLoop loop;
    const QMetaObject::Connection arrived = QObject::connect(
        &frmMain()->sckConnect(), &Session::dataArrived, [&run] { run.lastByte = now(); });
    const QMetaObject::Connection received = QObject::connect(
        &frmMain()->sckConnect(), &Session::messageReceived, [&run](const QString& message) {
            if (message.startsWith(QLatin1String("STATS:")))
                run.bytes = message.toUtf8().size();
        });
    // A real event loop: waiting helpers that sleep between rounds would add to the time.
    const QMetaObject::Connection done = QObject::connect(
        &grid, &QAbstractItemModel::modelReset, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    window->cmdQuery->click();
    loop.exec();
    QObject::disconnect(arrived);
    QObject::disconnect(received);
    QObject::disconnect(done);
    if (grid.rows() <= 2)
        return run;
    (void)window->MSFlexGrid1->grab(); // renders the visible rows
    run.painted = now();
    return run;
}

struct Case {
    const char* name;
    double client = 0;    // the reply's first write (or the request) to the grid painted
    double afterLast = 0; // of that, after the last byte arrived
    double bare = 0;      // the same for the bare table
};

void print(const Case& c)
{
    std::printf("%-34s %9.1f ms %9.1f ms %9.1f ms %7.1fx\n", c.name, c.client, c.afterLast, c.bare,
                c.client / c.bare);
}

#ifdef QUILLORA_SERVER_BIN
// The real server with 100,000 contacts, each called once, asked for its 10,000 top
// callers: from the request to the grid painted.
bool realServer(Case* result)
{
    testsupport::RealServer server(QStringLiteral(QUILLORA_SERVER_BIN));
    if (!server.start()) { // creates the database
        std::printf("the server did not start\n");
        return false;
    }
    server.stop();
    bool called = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "calls");
        db.setDatabaseName(server.databasePath());
        called = testsupport::addContacts(server.databasePath(), RealContacts) && db.open() &&
                 QSqlQuery(db).exec(
                     QStringLiteral("INSERT INTO calls (at, number, digits, contact_id)"
                                    " SELECT id, home, replace(home, ' ', ''), id FROM contacts"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("calls"));
    BareClient bare;
    if (!called || !server.start() || !testsupport::connectMainWindowTo(server.port()) ||
        !bare.connectTo(server.port())) {
        std::printf("could not prepare the server\n");
        return false;
    }
    showStatistics(); // a new connection closed the window
    FrmStatistics* window = frmStatistics();
    window->optStatMode[2]->setChecked(true);
    window->cmbRecords->setEditText(QString::number(Records));
    std::vector<double> totals;
    std::vector<double> afterLast;
    std::vector<double> bares;
    for (int run = 0; run < RealRuns; ++run) {
        const qint64 asked = now();
        const ClientRun client = clientQuery(window);
        const qint64 bareAsked = now();
        const qint64 bareDone =
            bare.query("STATS:TOPS;" + QByteArray::number(Records), client.bytes);
        if (client.painted == 0 || bareDone == 0 || window->MSFlexGrid1->grid().rows() < Records) {
            std::printf("no reply from the server\n");
            return false;
        }
        totals.push_back(ms(client.painted - asked));
        afterLast.push_back(ms(client.painted - client.lastByte));
        bares.push_back(ms(bareDone - bareAsked));
    }
    result->client = median(totals);
    result->afterLast = median(afterLast);
    result->bare = median(bares);
    return true;
}
#endif

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

    // The client and the bare table, each with a peer of its own.
    testsupport::Environment env;
    QThread peerThread;
    Peer peer(bytes);
    Peer barePeer(bytes);
    peer.moveToThread(&peerThread);
    barePeer.moveToThread(&peerThread);
    peerThread.start();
    QMetaObject::invokeMethod(
        &peer, [&] { peer.start(), barePeer.start(); }, Qt::BlockingQueuedConnection);
    BareClient bare;
    if (!testsupport::connectMainWindowTo(peer.port) || !bare.connectTo(barePeer.port)) {
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
    const double tick = median(ticks);
    std::printf("split only (QString::split at ','):      %8.2f ms  (median of %d)\n", split,
                SplitRuns);
    std::printf("reply fields (split and trimmed):        %8.2f ms\n", median(parses));
    std::printf("poller tick filling the grid:            %8.2f ms  (median of %d)\n", tick,
                FillRuns);
    std::printf("  ... and the grid painted:              %8.2f ms\n", median(painted));
    std::printf("ratio fill / split:                      %8.1f\n\n", tick / split);

    // From the server's write (or, with the real server, the request) to the grid painted.
    std::printf("%-34s %12s %12s %12s %8s\n", "median of runs", "window", "after last",
                "bare table", "ratio");
    for (const int thinkMs : {0, ThinkMs}) {
        peer.thinkMs = thinkMs;
        barePeer.thinkMs = thinkMs;
        std::vector<double> totals;
        std::vector<double> afterLast;
        std::vector<double> bares;
        for (int run = 0; run < SocketRuns; ++run) {
            const ClientRun client = clientQuery(window);
            const qint64 bareDone = bare.query("STATS:TOPS;10", bytes.size());
            if (client.painted == 0 || bareDone == 0) {
                std::printf("no reply\n");
                return 1;
            }
            totals.push_back(ms(client.painted - peer.sentAt));
            afterLast.push_back(ms(client.painted - client.lastByte));
            bares.push_back(ms(bareDone - barePeer.sentAt));
        }
        print({thinkMs == 0 ? "server answering at once" : "server thinking 100 ms first",
               median(totals), median(afterLast), median(bares)});
    }
#ifdef QUILLORA_SERVER_BIN
    Case real{"real server, 100,000 contacts"};
    if (!realServer(&real))
        return 1;
    print(real);
#endif
    std::printf("(tick every %d ms; the bare table is a QTableView over the split fields)\n",
                FrmStatistics::TickMilliseconds);

    forms::unloadAll();
    QMetaObject::invokeMethod(
        &peer,
        [&] {
            peer.moveToThread(QCoreApplication::instance()->thread());
            barePeer.moveToThread(QCoreApplication::instance()->thread());
        },
        Qt::BlockingQueuedConnection);
    peerThread.quit();
    peerThread.wait();
    return 0;
}
