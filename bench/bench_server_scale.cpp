// An office's worth of clients on one server: the real server program on 127.0.0.1 with
// 100,000 contacts (each with a phone number and a call), 1,000 clients on non-blocking
// sockets in this one thread. Prints how many clients got in, calls per second with every
// client receiving every call, the time from a ring to the last client's read of it
// (median and 99th percentile), the server's memory, and what a small request and a call
// wait while one client pulls the whole contact list or searches all contacts. Another
// build of the server may be named as the first argument, to compare, and another number
// of clients as the second. Asserts nothing.

#include "benchkit.h"
#include "database.h"
#include "filelimit.h"
#include "testkit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int DefaultClients = 1000;
constexpr int ContactCount = 100000;
constexpr int LatencyCalls = 100;
constexpr int BurstCalls = 200;
constexpr int Runs = 5;

QElapsedTimer g_clock;

double nowMs()
{
    return double(g_clock.nsecsElapsed()) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// 100,000 contacts with a home number each, and a call from each number; a third of the
// calls came before the number was stored.
bool fill(const QString& path)
{
    Database db;
    if (!db.open(path))
        return false;
    QSqlQuery& contacts = db.statement(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?)"
        " INSERT INTO contacts (id, name, home, mobile, email, business_phone, business_fax)"
        " SELECT i, 'Contact ' || i, '555-1' || i, '555-3' || i, 'contact' || i ||"
        " '@example.com', '555-7' || i, '' FROM n"));
    QSqlQuery& numbers =
        db.statement(QStringLiteral("INSERT INTO contact_numbers (contact_id, number, digits)"
                                    " SELECT id, home, replace(home, '-', '') FROM contacts"));
    QSqlQuery& calls = db.statement(QStringLiteral(
        "INSERT INTO calls (at, number, digits, contact_id) SELECT 1700000000000 + id * 1000,"
        " home, replace(home, '-', ''), CASE WHEN id % 3 = 0 THEN NULL ELSE id END FROM contacts"));
    return db.transaction(
        [&] { return db.exec(contacts, {ContactCount}) && db.exec(numbers) && db.exec(calls); });
}

struct Client {
    int fd = -1;
    bool greeted = false;
    bool closed = false;
    qint64 bytes = 0;
    int calls = 0;
    double lastCallMs = 0; // when the last read holding a call came
    QByteArray lastPrefix; // how the last read began
    double lastReadMs = 0;
    double replyStartMs = 0; // when the last reply to a request began to come
    qint64 replyBytes = 0;   // of it so far
};

// The clients and the control connections, all read by one epoll loop.
class Clients {
public:
    Clients() : m_epoll(::epoll_create1(0)) {}
    ~Clients()
    {
        for (Client& c : m_clients)
            ::close(c.fd);
        ::close(m_epoll);
    }

    // Opens `count` more connections, a batch at a time, each batch waiting until every
    // one of it is greeted or closed.
    void connect(quint16 port, int count)
    {
        for (int done = 0; done < count;) {
            const size_t first = m_clients.size();
            const int batch = std::min(50, count - done);
            for (int i = 0; i < batch; ++i) {
                Client c;
                c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                // Each from an address of its own (127.1.0.1 on), as an office's computers:
                // the server lets one address open only so many connections at once.
                const quint32 n = quint32(m_clients.size());
                sockaddr_in from{};
                from.sin_family = AF_INET;
                from.sin_addr.s_addr = htonl(0x7F010000u | (n / 250) << 8 | (n % 250 + 1));
                ::bind(c.fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                address.sin_port = htons(port);
                (void)::connect(c.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
                const int one = 1;
                ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                epoll_event event{};
                event.events = EPOLLIN;
                event.data.u64 = m_clients.size();
                ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &event);
                m_clients.push_back(c);
            }
            pump(10000, [&] {
                for (size_t i = first; i < m_clients.size(); ++i) {
                    if (!m_clients[i].greeted && !m_clients[i].closed)
                        return false;
                }
                return true;
            });
            done += batch;
        }
    }

    int in() const
    {
        return int(std::count_if(m_clients.begin(), m_clients.end(),
                                 [](const Client& c) { return c.greeted && !c.closed; }));
    }
    // The clients let in, for requests.
    std::vector<size_t> open() const
    {
        std::vector<size_t> found;
        for (size_t i = 0; i < m_clients.size(); ++i) {
            if (m_clients[i].greeted && !m_clients[i].closed)
                found.push_back(i);
        }
        return found;
    }
    Client& at(size_t i) { return m_clients[i]; }

    void send(size_t i, const QByteArray& bytes)
    {
        (void)::send(m_clients[i].fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    }

    // Announces a call through the control socket without waiting for its answer; tries
    // again while the socket's queue of connections is full.
    void ring(const QByteArray& path, int n)
    {
        while (!tryRing(path, n))
            pump(1, [] { return false; });
    }
    bool tryRing(const QByteArray& path, int n)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy_n(path.constData(), std::min<size_t>(size_t(path.size()), 107), address.sun_path);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return false;
        }
        const QByteArray command = "RING 555-1" + QByteArray::number(n % ContactCount + 1) + "\n";
        (void)::send(fd, command.constData(), size_t(command.size()), MSG_NOSIGNAL);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = ControlTag | quint64(fd);
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        return true;
    }

    // Reads whatever comes until `done` holds or the time is over; whether it holds.
    template <typename Done> bool pump(int timeoutMs, Done done)
    {
        const double end = nowMs() + timeoutMs;
        epoll_event events[256];
        while (!done()) {
            const double left = end - nowMs();
            if (left <= 0)
                return false;
            const int n = ::epoll_wait(m_epoll, events, 256, int(std::min(left, 100.0)) + 1);
            for (int e = 0; e < n; ++e)
                readOne(events[e].data.u64);
        }
        return true;
    }

    int leastCalls() const
    {
        int least = INT32_MAX;
        for (const Client& c : m_clients) {
            if (c.greeted && !c.closed)
                least = std::min(least, c.calls);
        }
        return least;
    }
    // When the last of the clients (but `except`) read a call.
    double lastCallRead(size_t except = SIZE_MAX) const
    {
        double last = 0;
        for (size_t i = 0; i < m_clients.size(); ++i) {
            if (i != except && m_clients[i].greeted && !m_clients[i].closed)
                last = std::max(last, m_clients[i].lastCallMs);
        }
        return last;
    }

private:
    static constexpr quint64 ControlTag = quint64(1) << 63;

    void readOne(quint64 tag)
    {
        static QByteArray buffer(1024 * 1024, Qt::Uninitialized);
        if (tag & ControlTag) {
            const int fd = int(tag & ~ControlTag);
            if (::recv(fd, buffer.data(), size_t(buffer.size()), 0) <= 0) {
                ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
                ::close(fd);
            }
            return;
        }
        Client& c = m_clients[tag];
        const ssize_t n = ::recv(c.fd, buffer.data(), size_t(buffer.size()), 0);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                c.closed = true;
                ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
            }
            return;
        }
        const QByteArray chunk = QByteArray::fromRawData(buffer.constData(), n);
        c.lastReadMs = nowMs();
        c.bytes += n;
        c.lastPrefix = chunk.left(10);
        if (!c.greeted && chunk.startsWith("Welcome"))
            c.greeted = true;
        if (chunk.startsWith("CALL_:")) {
            c.calls += int(chunk.count("CALL_:"));
            c.lastCallMs = c.lastReadMs;
        } else if (chunk.startsWith("STATS:") || chunk.startsWith("CNTAC:")) {
            c.replyStartMs = c.lastReadMs;
            c.replyBytes = n;
        } else if (c.greeted) {
            c.replyBytes += n; // the rest of a long reply
        }
    }

    int m_epoll;
    std::vector<Client> m_clients;
};

struct Delays {
    std::vector<double> small;    // a small request of another client
    std::vector<double> announce; // a call, to the last of the other clients
    std::vector<double> pulled;   // the big reply complete
};

// `runs` times: the puller sends the big request, and 20 ms later another client a small
// one; 20 ms after that a call is announced. The big reply is complete at `expected`
// bytes (0: when the puller has been quiet for a second).
qint64 whilePulling(Clients& clients, const QByteArray& path, size_t puller, size_t asker,
                    const QByteArray& request, qint64 expected, int runs, Delays* delays)
{
    for (int run = 0; run < runs; ++run) {
        clients.pump(300, [] { return false; }); // what came before
        Client& p = clients.at(puller);
        Client& a = clients.at(asker);
        const double start = nowMs();
        clients.send(puller, request);
        clients.pump(20, [] { return false; });
        const double asked = nowMs();
        clients.send(asker, "STATS:LAST;1");
        clients.pump(20, [] { return false; });
        const double rung = nowMs();
        const int callsBefore = a.calls;
        clients.ring(path, run);
        double answered = -1;
        double announced = -1;
        clients.pump(60000, [&] {
            if (answered < 0 && a.lastPrefix.startsWith("STATS:LAST") && a.lastReadMs > asked)
                answered = a.lastReadMs - asked;
            if (announced < 0 && a.calls > callsBefore) {
                clients.pump(200, [] { return false; }); // the others' reads
                announced = clients.lastCallRead(puller) - rung;
            }
            const bool complete =
                p.replyStartMs > start &&
                (expected > 0 ? p.replyBytes >= expected : nowMs() - p.lastReadMs > 1000);
            return answered >= 0 && announced >= 0 && complete;
        });
        if (expected == 0)
            expected = p.replyBytes;
        delays->small.push_back(answered);
        delays->announce.push_back(announced);
        delays->pulled.push_back(p.lastReadMs - start);
    }
    return expected;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(1);
    const int ClientCount = argc > 2 ? QByteArray(argv[2]).toInt() : DefaultClients;
    const long long files = filelimit::raiseToHard();
    if (ClientCount < 2 || (files >= 0 && files < ClientCount + 64)) {
        out << "the open-file limit (" << files << ") is too low for " << ClientCount << " clients"
            << Qt::endl;
        return 1;
    }
    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("scale.sqlite"));
    const QString logPath = dir.filePath(QStringLiteral("server.log"));
    QElapsedTimer filling;
    filling.start();
    if (!fill(dbPath)) {
        out << "could not fill the database" << Qt::endl;
        return 1;
    }
    out << "Database of " << ContactCount << " contacts filled in " << filling.elapsed() << " ms"
        << Qt::endl;

    const QString program = argc > 1 && argv[1][0] != '\0' ? QString::fromLocal8Bit(argv[1])
                                                           : QStringLiteral(QUILLORA_SERVER_BIN);
    QProcess server;
    QString log;
    const quint16 port = benchkit::startWithLog(
        server, program,
        {"--port", "0", "--db", dbPath, "--ping-interval", "86400", "--control",
         QStringLiteral("quillora-scale-%1").arg(app.applicationPid())},
        logPath, &log);
    static const QRegularExpression controlSocket(QStringLiteral("Control socket: (\\S+)"));
    const QByteArray control = QFile::encodeName(controlSocket.match(log).captured(1));
    if (port == 0) {
        out << "the server did not start" << Qt::endl;
        return 1;
    }
    const qint64 pid = server.processId();
    const auto kB = [pid](const char* name) {
        return QString::number(testkit::statusFigure(pid, name)) + " kB";
    };
    const QString startRss = kB("VmRSS");

    Clients clients;
    QElapsedTimer connecting;
    connecting.start();
    clients.connect(port, ClientCount);
    const int in = clients.in();
    out << "Clients let in: " << in << " of " << ClientCount << " (in " << connecting.elapsed()
        << " ms)" << (in < ClientCount ? "; the others were refused" : "") << Qt::endl;
    if (in < 2)
        return 1;
    const QString connectedRss = kB("VmRSS");

    // Calls one at a time, each after the one before has reached everyone.
    std::vector<double> latency;
    for (int i = 0; i < LatencyCalls; ++i) {
        const int want = clients.leastCalls() + 1;
        const double rung = nowMs();
        clients.ring(control, i);
        if (!clients.pump(10000, [&] { return clients.leastCalls() >= want; }))
            break;
        latency.push_back(clients.lastCallRead() - rung);
        clients.pump(30, [] { return false; }); // past the 25 ms between two messages
    }
    out << "Ring to the last of " << in << " clients' reads (" << latency.size()
        << " calls): " << percentile(latency, 0.5) << " ms median, " << percentile(latency, 0.99)
        << " ms p99" << Qt::endl;

    // Calls as fast as the control socket takes them.
    const int base = clients.leastCalls();
    const double burstStart = nowMs();
    for (int i = 0; i < BurstCalls; ++i) {
        clients.ring(control, i);
        clients.pump(0, [] { return true; });
    }
    const bool all =
        clients.pump(120000, [&] { return clients.leastCalls() >= base + BurstCalls; });
    const double burstMs = clients.lastCallRead() - burstStart;
    out << BurstCalls << " calls at once: every client had every one after " << burstMs << " ms"
        << (all ? "" : " (NOT all delivered)") << ", " << BurstCalls * 1000.0 / burstMs
        << " calls/s, " << double(BurstCalls) * in * 1000.0 / burstMs << " deliveries/s"
        << Qt::endl;
    out << "  (a client gets at most one message per 25 ms: at most 40 calls/s)" << Qt::endl;

    const std::vector<size_t> open = clients.open();
    const size_t puller = open[0];
    const size_t asker = open[1];
    out << "While one client asks for a big reply, another asks for STATS:LAST;1 and a call is"
           " announced to the "
        << in - 1 << " others (median / max of " << Runs << " runs):" << Qt::endl;
    const auto show = [&](const char* what, const Delays& d, qint64 bytes) {
        out << "  " << what << " (" << bytes << " bytes, complete after "
            << percentile(d.pulled, 0.5) << " ms)" << Qt::endl;
        out << "    small request answered after " << percentile(d.small, 0.5) << " / "
            << percentile(d.small, 1) << " ms" << Qt::endl;
        out << "    call read by the last client after " << percentile(d.announce, 0.5) << " / "
            << percentile(d.announce, 1) << " ms" << Qt::endl;
    };
    Delays firstSearch;
    const qint64 searchBytes =
        whilePulling(clients, control, puller, asker, "CNTAC:SEAR;ALLF;", 0, 1, &firstSearch);
    show("first search of all contacts, CNTAC:SEAR;ALLF;", firstSearch, searchBytes);
    Delays search;
    whilePulling(clients, control, puller, asker, "CNTAC:SEAR;ALLF;", searchBytes, Runs, &search);
    show("search of all contacts again", search, searchBytes);
    Delays list;
    qint64 listBytes = whilePulling(clients, control, puller, asker, "STATS:CNTS;00", 0, 1, &list);
    list = Delays();
    whilePulling(clients, control, puller, asker, "STATS:CNTS;00", listBytes, Runs, &list);
    show("contact list, STATS:CNTS;00", list, listBytes);
    Delays top;
    const qint64 topBytes =
        whilePulling(clients, control, puller, asker, "STATS:TOPS;100000", 0, 1, &top);
    show("top callers, STATS:TOPS;100000", top, topBytes);

    out << "Server memory: at start " << startRss << ", with " << in << " clients " << connectedRss
        << ", now " << kB("VmRSS") << ", peak " << kB("VmHWM") << Qt::endl;
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
