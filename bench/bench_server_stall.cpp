// What one client can cost the others: the real server program on 127.0.0.1 holds 300
// contacts with 10 KB fields (saved by a client where the server takes them, else written
// straight into its file as an older server could have stored them). Prints how long a
// small request of another client waits while one client pulls the contact list and while
// eight pull it at once, the server's peak memory, and how many wrong passwords one
// address gets checked per second. Plain blocking sockets, one thread per client, so the
// clients do not wait for each other. Asserts nothing.

#include "benchkit.h"
#include "contactstore.h"
#include "database.h"
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
#include <atomic>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray Password = "bench password";
constexpr int ContactCount = 300;
constexpr int FieldBytes = 10 * 1024;
constexpr int SavedByClient = 5; // the rest is written into the file
constexpr int Pullers = 8;
constexpr int Runs = 5;
constexpr int GuessSeconds = 3;

double msSince(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A blocking TCP connection, from the loopback address 127.0.0.<from>; -1 when it failed.
int connectTo(quint16 port, int from = 1)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    // Bound to the source address with any port, then connected to the server's.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + quint32(from));
    bool connected = ::bind(fd, generic, sizeof address) == 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connected = connected && ::connect(fd, generic, sizeof address) == 0;
    if (!connected) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// What arrives within the time; empty when nothing did. *closed is set when the server
// closed the connection.
QByteArray receive(int fd, int timeoutMs, bool* closed = nullptr)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return {};
    QByteArray bytes(256 * 1024, Qt::Uninitialized);
    const ssize_t n = ::recv(fd, bytes.data(), size_t(bytes.size()), 0);
    if (n <= 0) {
        if (closed)
            *closed = true;
        return {};
    }
    bytes.truncate(n);
    return bytes;
}

// Greeted, password sent, and past the moment a refused one would have been closed.
int logIn(quint16 port)
{
    const int fd = connectTo(port);
    if (fd < 0 || receive(fd, 5000).isEmpty() || !sendAll(fd, Password)) {
        ::close(fd);
        return -1;
    }
    bool closed = false;
    (void)receive(fd, 100, &closed);
    if (closed) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends the request and reads its reply: until `expected` bytes when that is known, else
// until the connection has been quiet for a second after the reply began. The bytes
// received.
qint64 pull(int fd, const QByteArray& request, qint64 expected)
{
    if (!sendAll(fd, request))
        return 0;
    qint64 total = 0;
    for (;;) {
        const QByteArray chunk = receive(fd, expected > 0 || total == 0 ? 60000 : 1000);
        if (chunk.isEmpty())
            return total;
        total += chunk.size();
        if (expected > 0 && total >= expected)
            return total;
    }
}

// How long a small request waits for the beginning of its reply, in ms (-1: none came).
double smallRequest(int fd)
{
    QElapsedTimer clock;
    clock.start();
    if (!sendAll(fd, "STATS:LAST;1"))
        return -1;
    return receive(fd, 60000).startsWith("STATS:LAST") ? msSince(clock) : -1;
}

// One round: `pullers` clients ask for the contact list at the same moment, and 20 ms
// later another client asks for one call. Its wait, and when the last list was complete.
struct Round {
    double smallMs = 0;
    double allPulledMs = 0;
};

Round round(const std::vector<int>& pullers, int other, qint64 expected)
{
    std::atomic<int> started{0};
    std::vector<double> done(pullers.size());
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < pullers.size(); ++i) {
        threads.emplace_back([&, i] {
            ++started;
            (void)pull(pullers[i], "STATS:CNTS;00", expected);
            done[i] = msSince(clock);
        });
    }
    while (started < int(pullers.size()))
        std::this_thread::yield();
    QThread::msleep(20);
    Round r;
    r.smallMs = smallRequest(other);
    for (std::thread& t : threads)
        t.join();
    r.allPulledMs = *std::max_element(done.begin(), done.end());
    return r;
}

int lineCount(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
}

// Guesses passwords for the time from `guessers` connections at once from the address
// 127.0.0.<from>, each connecting again as soon as the server has closed the last one.
// Wrong passwords checked per second.
double guess(quint16 port, int guessers, int from)
{
    std::atomic<int> checked{0};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (int g = 0; g < guessers; ++g) {
        threads.emplace_back([&, g] {
            int attempt = 0;
            while (clock.elapsed() < GuessSeconds * 1000) {
                const int fd = connectTo(port, from);
                if (fd < 0)
                    break;
                bool closed = false;
                if (!receive(fd, 5000).isEmpty() &&
                    sendAll(fd, "guess " + QByteArray::number(g) + "-" +
                                    QByteArray::number(++attempt))) {
                    while (!closed && clock.elapsed() < GuessSeconds * 1000 + 10000)
                        (void)receive(fd, 100, &closed);
                }
                ::close(fd);
                if (closed && clock.elapsed() <= GuessSeconds * 1000)
                    ++checked;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    return checked / double(GuessSeconds);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(1);
    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("stall.sqlite"));
    const QString logPath = dir.filePath(QStringLiteral("server.log"));

    // Another build of the server may be named, to compare.
    const QString program =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUILLORA_SERVER_BIN);
    QProcess server;
    const quint16 port = benchkit::startWithLog(
        server, program,
        {"--port", "0", "--db", dbPath, "--password", QString::fromLatin1(Password),
         "--ping-interval", "86400", // no probes in the middle of a measured reply
         "--control", QStringLiteral("quillora-stall-%1").arg(app.applicationPid())},
        logPath);
    if (port == 0) {
        out << "the server did not start" << Qt::endl;
        return 1;
    }
    const qint64 pid = server.processId();
    const auto kB = [pid](const char* name) {
        return QString::number(testkit::statusFigure(pid, name)) + " kB";
    };
    const QString startRss = kB("VmRSS");

    // A client saves contacts with five 10 KB fields each.
    const QByteArray field(FieldBytes, 'x');
    int saved = 0;
    QByteArray refusal;
    {
        const int fd = logIn(port);
        for (int i = 0; i < SavedByClient && fd >= 0; ++i) {
            const QByteArray id = QByteArray::number(i);
            (void)sendAll(fd, "CNTAC:SAVE;NEW,Name " + id + field + ",555-" + id + field + ",556-" +
                                  id + field + ",e" + id + field + ",557-" + id + field + ",");
            const QByteArray reply = receive(fd, 10000);
            if (reply.startsWith("CNTAC:SAVE;"))
                ++saved;
            else
                refusal = reply.left(100);
        }
        ::close(fd);
    }
    {
        Database db;
        ContactStore contacts(db);
        const QString text = QString::fromLatin1(field);
        const bool filled = db.open(dbPath) && db.transaction([&] {
            for (int i = saved; i < ContactCount; ++i) {
                const QString n = QString::number(i);
                if (!contacts.insert(Contact{0, "Name " + n + text, "555-" + n + text,
                                             "556-" + n + text, "e" + n + text, "557-" + n + text,
                                             QString()}))
                    return false;
            }
            return true;
        });
        if (!filled) {
            out << "could not fill the database: " << db.errorText() << Qt::endl;
            return 1;
        }
    }

    const int other = logIn(port);
    std::vector<int> pullers;
    for (int i = 0; i < Pullers; ++i)
        pullers.push_back(logIn(port));
    if (other < 0 || std::count(pullers.begin(), pullers.end(), -1) > 0) {
        out << "could not log in" << Qt::endl;
        return 1;
    }
    const qint64 expected = pull(pullers[0], "STATS:CNTS;00", 0);
    QThread::msleep(100);
    const double idleMs = smallRequest(other);

    std::vector<double> oneSmall, oneAll, eightSmall, eightAll;
    for (int run = 0; run < Runs; ++run) {
        QThread::msleep(100);
        const Round one = round({pullers[0]}, other, expected);
        oneSmall.push_back(one.smallMs);
        oneAll.push_back(one.allPulledMs);
    }
    for (int run = 0; run < Runs; ++run) {
        QThread::msleep(100);
        const Round eight = round(pullers, other, expected);
        eightSmall.push_back(eight.smallMs);
        eightAll.push_back(eight.allPulledMs);
    }
    const QString peakRss = kB("VmHWM");
    for (const int fd : pullers)
        ::close(fd);
    QThread::msleep(300); // their lines are written

    // Each from an address of its own.
    const int linesBefore = lineCount(logPath);
    const double oneGuesser = guess(port, 1, 2);
    const double eightGuessers = guess(port, Pullers, 3);
    QThread::msleep(300);
    const int guessLines = lineCount(logPath) - linesBefore;
    const double guesses = (oneGuesser + eightGuessers) * GuessSeconds;

    // The right password from the second guesser's address once the guessing has stopped:
    // how long until it is let in.
    double loginMs = -1;
    {
        QElapsedTimer clock;
        clock.start();
        const int fd = connectTo(port, 3);
        if (fd >= 0 && !receive(fd, 5000).isEmpty() && sendAll(fd, Password)) {
            QThread::msleep(30);
            if (sendAll(fd, "STATS:LAST;1") && receive(fd, 30000).startsWith("STATS:"))
                loginMs = msSince(clock);
        }
        ::close(fd);
    }
    ::close(other);
    server.terminate();
    server.waitForFinished(10000);

    out << "Server stall: " << ContactCount << " contacts with five " << FieldBytes
        << "-byte fields" << Qt::endl;
    out << "  saves of such contacts by a client        " << saved << " of " << SavedByClient
        << " accepted" << (refusal.isEmpty() ? QString() : " (" + refusal + "...)") << Qt::endl;
    out << "  contact list reply                        " << expected << " bytes" << Qt::endl;
    out << "  small request, server otherwise idle      " << idleMs << " ms" << Qt::endl;
    out << "  small request while 1 client pulls it     " << median(oneSmall) << " ms median, "
        << *std::max_element(oneSmall.begin(), oneSmall.end()) << " ms max (" << Runs << " runs)"
        << Qt::endl;
    out << "  small request while " << Pullers << " pull it at once   " << median(eightSmall)
        << " ms median, " << *std::max_element(eightSmall.begin(), eightSmall.end()) << " ms max"
        << Qt::endl;
    out << "  1 pulling client has its list after       " << median(oneAll) << " ms" << Qt::endl;
    out << "  " << Pullers << " pulling clients have theirs after      " << median(eightAll)
        << " ms" << Qt::endl;
    out << "  server memory: at start " << startRss << ", peak " << peakRss << Qt::endl;
    out.setRealNumberPrecision(2);
    out << "Password guessing (" << GuessSeconds
        << " s each, from an address of its own):" << Qt::endl;
    out << "  wrong passwords checked per second, 1 connection at a time   " << oneGuesser
        << Qt::endl;
    out << "  wrong passwords checked per second, " << Pullers << " connections at once   "
        << eightGuessers << Qt::endl;
    out << "  log lines written for them                " << guessLines << " ("
        << (guesses > 0 ? guessLines / guesses : 0) << " per wrong password)" << Qt::endl;
    out.setRealNumberPrecision(1);
    out << "  the right password afterwards answered in " << loginMs << " ms" << Qt::endl;
    return 0;
}
