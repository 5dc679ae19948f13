// A site's clients getting back in after a restart: the real server program on 127.0.0.1
// with a password and 2,000 clients in, each from an address of its own in 127.1.0.0/16 (as
// a site's computers are), on non-blocking sockets in this one thread. The server is stopped
// and started again on its port at once; every client comes back on the client's own
// schedule (the pause before attempt n is reconnectplan's: 1, 2, 4 ... s with a fifth of
// jitter either way): it connects, sends the password on the greeting, and an attempt
// fails when the connection is refused or closed before the server let it in (the server's
// log tells when it did). Prints when 50, 90 and 100 % were back, how many attempts each
// needed and the most any needed. Another build of the server may be named as the first
// argument, to compare, and another number of clients as the second. Asserts nothing.

#include "benchkit.h"
#include "filelimit.h"
#include "session/reconnectplan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int DefaultClients = 2000;
constexpr int MostAttempts = 8;         // after that a client is counted as given up
constexpr int AttemptTimeoutMs = 20000; // the client's own, for a greeting that never comes
constexpr double LongestRestartMs = 180000;
const QByteArray Password = "restart-bench-password";

QElapsedTimer g_clock;

double nowMs()
{
    return double(g_clock.nsecsElapsed()) / 1e6;
}

struct Client {
    quint32 address = 0; // host order
    int fd = -1;
    QByteArray peer; // "ADDRESS:PORT" of the connection under way, as the server logs it
    enum class State { Out, Due, Connecting, Greeting, LoggingIn, In } state = State::Out;
    double dueMs = 0;     // the next attempt, while Due
    double startedMs = 0; // the attempt under way
    int attempts = 0;     // since the connection was lost
    double backMs = -1;   // let in again
};

class Site {
public:
    Site(quint16 port, int count) : m_port(port), m_epoll(::epoll_create1(0))
    {
        m_clients.resize(size_t(count));
        for (int i = 0; i < count; ++i) // 127.1.0.1 on, 250 to a /24
            m_clients[size_t(i)].address =
                (127u << 24) | (1u << 16) | quint32(i / 250) << 8 | quint32(i % 250 + 1);
    }
    ~Site()
    {
        for (Client& c : m_clients)
            drop(c);
        ::close(m_epoll);
    }

    std::vector<Client>& clients() { return m_clients; }
    int in() const
    {
        return int(std::count_if(m_clients.begin(), m_clients.end(),
                                 [](const Client& c) { return c.state == Client::State::In; }));
    }

    void connect(Client& c)
    {
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(c.address);
        const int one = 1;
        ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::bind(c.fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        socklen_t length = sizeof from;
        ::getsockname(c.fd, reinterpret_cast<sockaddr*>(&from), &length);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        c.peer = QByteArray(text) + ':' + QByteArray::number(ntohs(from.sin_port));
        m_byPeer.insert(c.peer, &c);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(m_port);
        (void)::connect(c.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT;
        event.data.ptr = &c;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &event);
        c.state = Client::State::Connecting;
        c.startedMs = nowMs();
        ++c.attempts;
    }

    // The attempt under way failed: the next one is due after the client's pause.
    void failed(Client& c)
    {
        drop(c);
        if (c.attempts >= MostAttempts) {
            c.state = Client::State::Out;
            return;
        }
        const double jitter = QRandomGenerator::global()->bounded(2.0) - 1.0;
        c.state = Client::State::Due;
        c.dueMs = nowMs() + reconnectplan::delayMilliseconds(c.attempts + 1, jitter);
    }

    // The connection is lost (the server stopped): the first attempt after the pause.
    void lost(Client& c)
    {
        drop(c);
        c.attempts = 0;
        c.backMs = -1;
        failed(c);
    }

    // Attempts that are due, reads, and the server's word on who got in, until `done`
    // holds or the time is over; whether it holds.
    template <typename Done> bool run(double timeoutMs, QFile& log, Done done)
    {
        const double end = nowMs() + timeoutMs;
        epoll_event events[256];
        while (!done()) {
            const double now = nowMs();
            if (now >= end)
                return false;
            for (Client& c : m_clients) {
                if (c.state == Client::State::Due && c.dueMs <= now)
                    connect(c);
                else if ((c.state == Client::State::Connecting ||
                          c.state == Client::State::Greeting) &&
                         now - c.startedMs > AttemptTimeoutMs)
                    failed(c);
            }
            const int n = ::epoll_wait(m_epoll, events, 256, 5);
            for (int e = 0; e < n; ++e)
                event(*static_cast<Client*>(events[e].data.ptr), events[e].events);
            readLog(log);
        }
        return true;
    }

private:
    void drop(Client& c)
    {
        if (c.fd < 0)
            return;
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
        ::close(c.fd);
        c.fd = -1;
        m_byPeer.remove(c.peer);
    }

    void event(Client& c, quint32 events)
    {
        if (c.fd < 0)
            return;
        if (c.state == Client::State::Connecting && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                failed(c); // refused: the server is not listening yet
                return;
            }
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.ptr = &c;
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &event);
            c.state = Client::State::Greeting;
        }
        if (!(events & (EPOLLIN | EPOLLERR | EPOLLHUP)))
            return;
        char buffer[4096];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            if (c.state == Client::State::In)
                lost(c);
            else
                failed(c); // closed before the server let it in
            return;
        }
        if (n > 0 && c.state == Client::State::Greeting &&
            QByteArray::fromRawData(buffer, int(n)).startsWith("Welcome")) {
            (void)::send(c.fd, Password.constData(), size_t(Password.size()), MSG_NOSIGNAL);
            c.state = Client::State::LoggingIn;
        }
    }

    void readLog(QFile& log)
    {
        static const QRegularExpression in(QStringLiteral("Client (\\S+) authenticated\\."));
        if (!log.isOpen() && !log.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return;
        m_logTail += log.readAll();
        const qsizetype end = m_logTail.lastIndexOf('\n');
        if (end < 0)
            return;
        const QList<QByteArray> lines = m_logTail.left(end).split('\n');
        m_logTail.remove(0, end + 1);
        for (const QByteArray& bytes : lines) {
            const QString line = QString::fromUtf8(bytes);
            const auto match = in.match(line);
            if (!match.hasMatch())
                continue;
            Client* c = m_byPeer.value(match.captured(1).toLatin1());
            if (c && c->state == Client::State::LoggingIn) {
                c->state = Client::State::In;
                c->backMs = nowMs();
            }
        }
    }

    quint16 m_port;
    int m_epoll;
    std::vector<Client> m_clients;
    QHash<QByteArray, Client*> m_byPeer;
    QByteArray m_logTail; // a line not yet complete
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(0);
    const int count = argc > 2 ? QByteArray(argv[2]).toInt() : DefaultClients;
    const long long files = filelimit::raiseToHard();
    if (count < 1 || count > 250 * 250 || (files >= 0 && files < count + 64)) {
        out << "the open-file limit (" << files << ") is too low for " << count << " clients"
            << Qt::endl;
        return 1;
    }
    const QString program = argc > 1 && argv[1][0] != '\0' ? QString::fromLocal8Bit(argv[1])
                                                           : QStringLiteral(QUILLORA_SERVER_BIN);
    QTemporaryDir dir;
    QFile passwordFile(dir.filePath(QStringLiteral("password")));
    if (!passwordFile.open(QIODevice::WriteOnly) || passwordFile.write(Password) < 0 ||
        !passwordFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return 1;
    passwordFile.close();
    QStringList arguments{"--port",
                          "0",
                          "--db",
                          dir.filePath(QStringLiteral("restart.sqlite")),
                          "--password-file",
                          passwordFile.fileName(),
                          "--max-clients",
                          QString::number(count),
                          "--ping-interval",
                          "86400",
                          "--control",
                          QStringLiteral("quillora-restart-%1").arg(app.applicationPid())};
    const QString logPath = dir.filePath(QStringLiteral("server.log"));
    QProcess server;
    const quint16 port = benchkit::startWithLog(server, program, arguments, logPath);
    if (port == 0) {
        out << "the server did not start" << Qt::endl;
        return 1;
    }
    arguments[1] = QString::number(port);
    QFile log(logPath);

    // Everyone in, a few at a time, each trying again at once if it was pushed out.
    Site site(port, count);
    QElapsedTimer connecting;
    connecting.start();
    std::vector<Client>& clients = site.clients();
    for (size_t first = 0; first < clients.size(); first += 8) {
        const size_t last = std::min(clients.size(), first + 8);
        for (size_t i = first; i < last; ++i)
            site.connect(clients[i]);
        site.run(60000, log, [&] {
            for (size_t i = first; i < last; ++i) {
                if (clients[i].state == Client::State::Due)
                    clients[i].dueMs = 0;
                if (clients[i].state != Client::State::In)
                    return false;
            }
            return true;
        });
    }
    out << "Clients in: " << site.in() << " of " << count << " (in " << connecting.elapsed()
        << " ms)" << Qt::endl;
    if (site.in() < count)
        return 1;

    // Stopped and started again at once, as a package upgrade does.
    server.terminate();
    server.waitForFinished(30000);
    const double lostMs = nowMs();
    for (Client& c : clients)
        site.lost(c);
    server.setStandardOutputFile(dir.filePath(QStringLiteral("restarted.log")));
    server.start(program, arguments);
    log.close();
    log.setFileName(dir.filePath(QStringLiteral("restarted.log"))); // opened once it is there
    bool ended = false;
    const bool all = site.run(LongestRestartMs, log, [&] {
        ended = ended || server.waitForFinished(0);
        return ended || site.in() == count;
    });
    if (ended) {
        out << "the server ended after the restart" << Qt::endl;
        return 1;
    }

    std::vector<double> back;
    std::map<int, int> byAttempts;
    int most = 0;
    for (const Client& c : clients) {
        if (c.state != Client::State::In)
            continue;
        back.push_back(c.backMs - lostMs);
        ++byAttempts[c.attempts];
        most = std::max(most, c.attempts);
    }
    std::sort(back.begin(), back.end());
    const auto when = [&](double share) -> QString {
        const size_t needed = size_t(std::ceil(share * count));
        return needed <= back.size() ? QString::number(back[needed - 1] / 1000.0, 'f', 2) + " s"
                                     : QStringLiteral("never");
    };
    out << "Back after the restart: 50 % at " << when(0.5) << ", 90 % at " << when(0.9)
        << ", 100 % at " << when(1.0) << (all ? "" : " (NOT all came back)") << Qt::endl;
    out << "Attempts needed:";
    for (const auto& [attempts, clientsWith] : byAttempts)
        out << " " << clientsWith << " with " << attempts;
    out << "; the most any needed: " << most;
    if (!all)
        out << "; " << count - site.in() << " not back after " << MostAttempts << " attempts";
    out << Qt::endl;
    out << "  (bound: all back, none beyond its third attempt)" << Qt::endl;
    server.terminate();
    server.waitForFinished(30000);
    return 0;
}
