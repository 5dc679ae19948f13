// Two server programs sharing one PostgreSQL database: how long a call rung on server A
// takes to reach a client of server B (through NOTIFY and B's LISTEN), next to the same
// for a client of A itself. A private PostgreSQL server is started for it. Prints its
// figures; asserts nothing.

#include "postgrescluster.h"
#include "testkit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace {

constexpr int Rings = 200;

quint16 startServer(QProcess& process, const QStringList& arguments)
{
    return testkit::startListening(process, QStringLiteral(QUILLORA_SERVER_BIN), arguments);
}

// Runs the event loop for a while.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void print(QTextStream& out, const char* what, std::vector<qint64> us)
{
    std::sort(us.begin(), us.end());
    if (us.empty())
        return;
    out << what << ": median " << us[us.size() / 2] / 1000.0 << " ms, p99 "
        << us[std::min(us.size() - 1, us.size() * 99 / 100)] / 1000.0 << " ms, max "
        << us.back() / 1000.0 << " ms (" << us.size() << " calls)" << Qt::endl;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QString missing = PostgresCluster::unavailable();
    if (!missing.isEmpty()) {
        out << "Skipped: " << missing << Qt::endl;
        return 0;
    }
    PostgresCluster cluster;
    QString error;
    if (!cluster.start(&error) || !cluster.createDatabase(QStringLiteral("bench"), &error)) {
        out << "Cannot start PostgreSQL: " << error << Qt::endl;
        return 1;
    }
    const QString url = cluster.url(QStringLiteral("bench"));
    const QString control =
        QStringLiteral("quillora-bench-shared-%1").arg(QCoreApplication::applicationPid());
    QProcess a;
    QProcess b;
    const quint16 portA = startServer(a, {"--port", "0", "--db", url, "--control", control});
    const quint16 portB = startServer(b, {"--port", "0", "--db", url});
    if (portA == 0 || portB == 0) {
        out << "The servers did not start." << Qt::endl;
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    QTcpSocket onA;
    QTcpSocket onB;
    qint64 readA = -1;
    qint64 readB = -1;
    QEventLoop* waiting = nullptr; // for the call on its way to both
    for (auto [socket, at] : {std::pair{&onA, &readA}, std::pair{&onB, &readB}}) {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket, at = at] {
            if (socket->readAll().contains("CALL_:"))
                *at = clock.nsecsElapsed() / 1000;
            if (waiting && readA >= 0 && readB >= 0)
                waiting->quit();
        });
    }
    onA.connectToHost(QHostAddress::LocalHost, portA);
    onB.connectToHost(QHostAddress::LocalHost, portB);
    wait(500); // greeted and let in (no password)

    std::vector<qint64> toA;
    std::vector<qint64> toB;
    for (int i = 0; i < Rings; ++i) {
        QLocalSocket ring;
        ring.connectToServer(control);
        if (!ring.waitForConnected(5000)) {
            out << "Cannot reach the control socket." << Qt::endl;
            return 1;
        }
        readA = readB = -1;
        const qint64 rungAt = clock.nsecsElapsed() / 1000;
        ring.write(QStringLiteral("RING 555-%1\n").arg(i, 4, 10, QLatin1Char('0')).toLatin1());
        ring.flush();
        QEventLoop loop;
        waiting = &loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        waiting = nullptr;
        if (readA >= 0)
            toA.push_back(readA - rungAt);
        if (readB >= 0)
            toB.push_back(readB - rungAt);
        wait(40); // past the gap the server keeps between two messages to a client
    }
    out << "Two servers on one PostgreSQL database, a call rung on A " << Rings
        << " times:" << Qt::endl;
    print(out, "  ring on A -> read by A's client", toA);
    print(out, "  ring on A -> read by B's client", toB);
    a.terminate();
    b.terminate();
    a.waitForFinished();
    b.waitForFinished();
    return 0;
}
