// Calls announced per second to 50 connected clients, every client receiving every
// call, each as a read of its own. The server runs in its own thread; the clients are
// plain sockets in this one. Prints its figures; asserts nothing.

#include "database.h"
#include "server.h"
#include "serverlog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

namespace {

constexpr int ClientCount = 50;
constexpr int CallCount = 200;

class ServerThread final : public QThread {
public:
    explicit ServerThread(QString path) : m_path(std::move(path)) {}

    Server* server = nullptr;
    quint16 port = 0;
    std::atomic<qint64> announceNs{0};
    QSemaphore ready;

protected:
    void run() override
    {
        Database db;
        if (!db.open(m_path)) {
            ready.release();
            return;
        }
        ContactStore contacts(db);
        db.transaction([&] {
            for (int i = 0; i < 50; ++i) {
                Contact c;
                c.name = QStringLiteral("Caller %1").arg(i);
                c.home = QStringLiteral("555-1%1").arg(i, 3, 10, QLatin1Char('0'));
                c.email = QStringLiteral("caller%1@example.com").arg(i);
                if (!contacts.insert(c))
                    return false;
            }
            return true;
        });
        ServerConfig config;
        config.port = 0;
        config.controlName =
            QStringLiteral("quillora-bench-%1").arg(QCoreApplication::applicationPid());
        Server s(db, config);
        QString error;
        if (s.start(&error)) {
            server = &s;
            port = s.port();
        }
        ready.release();
        if (server)
            exec();
        server = nullptr;
    }

private:
    QString m_path;
};

struct Client {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    int calls = 0;
    int reads = 0;
    int mergedReads = 0; // reads that held more than one message
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    serverlog::setEnabled(false);
    QTextStream out(stdout);
    QTemporaryDir dir;
    ServerThread thread(dir.filePath(QStringLiteral("calls.sqlite")));
    thread.start();
    thread.ready.acquire();
    if (!thread.server) {
        out << "the server did not start" << Qt::endl;
        return 1;
    }

    std::vector<Client> clients(ClientCount);
    for (Client& c : clients) {
        QObject::connect(c.socket.get(), &QTcpSocket::readyRead, c.socket.get(), [&c] {
            const QByteArray chunk = c.socket->readAll();
            ++c.reads;
            const int messages = int(chunk.count("CALL_:"));
            c.calls += messages;
            if (messages > 1 || (messages == 1 && !chunk.startsWith("CALL_:")))
                ++c.mergedReads;
        });
        c.socket->connectToHost(QStringLiteral("127.0.0.1"), thread.port);
    }
    // Everyone greeted (no password: authenticated with the greeting).
    if (!QTest::qWaitFor(
            [&] {
                for (const Client& c : clients) {
                    if (c.reads == 0)
                        return false;
                }
                return true;
            },
            10000)) {
        out << "not every client was greeted" << Qt::endl;
        return 1;
    }
    for (Client& c : clients)
        c.reads = 0;

    Server* server = thread.server;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < CallCount; ++i) {
        const QString number = QStringLiteral("555-1%1").arg(i % 60, 3, 10, QLatin1Char('0'));
        QMetaObject::invokeMethod(server, [server, number, &thread] {
            QElapsedTimer t;
            t.start();
            server->announceCall(number);
            thread.announceNs += t.nsecsElapsed();
        });
    }
    const bool all = QTest::qWaitFor(
        [&] {
            for (const Client& c : clients) {
                if (c.calls < CallCount)
                    return false;
            }
            return true;
        },
        120000);
    const double seconds = double(elapsed.nsecsElapsed()) / 1e9;

    int merged = 0;
    qint64 delivered = 0;
    for (const Client& c : clients) {
        merged += c.mergedReads;
        delivered += c.calls;
    }
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    out << CallCount << " calls announced at once to " << ClientCount << " clients"
        << (all ? "" : " (NOT all delivered)") << Qt::endl;
    out << "  every client had every call after   " << seconds << " s" << Qt::endl;
    out << "  calls per second, all clients        " << CallCount / seconds << Qt::endl;
    out << "  deliveries per second                " << delivered / seconds << Qt::endl;
    out << "  reads holding more than one message  " << merged << Qt::endl;
    out.setRealNumberPrecision(3);
    out << "  server time per announcement         " << double(thread.announceNs) / 1e6 / CallCount
        << " ms (look-up, log, queue to 50 clients)" << Qt::endl;
    out << "  (each client gets at most one message per 25 ms: the pacing bounds the rate at "
           "40 calls/s)"
        << Qt::endl;

    clients.clear();
    thread.quit();
    thread.wait();
    return all ? 0 : 1;
}
