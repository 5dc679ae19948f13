#pragma once

// Shared test fixtures: an isolated settings store, recorded message boxes, a clean window
// registry, a loopback peer that sends and records exact bytes, the real server program.

#include "shell/msgbox.h"
#include "statistics/gridmodel.h"

#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace testsupport {

// Every message box shown since the last reset, in order.
inline QList<MsgBoxCall>& boxes()
{
    static QList<MsgBoxCall> list;
    return list;
}

// The answers the next Yes/No boxes get, in order; with none left, No.
inline QList<int>& boxAnswers()
{
    static QList<int> list;
    return list;
}

// Empties the settings store (on Windows its registry key, also when it goes), records
// message boxes instead of showing them, and resets the shared variables and the window
// registry. One per test case.
class Environment {
public:
    Environment();
    ~Environment();

private:
    QTemporaryDir m_dir;
};

// While it lives, every message box is a real modal box running its own event loop, as
// for users: it is recorded in boxes(), `whileOpen` (if any) runs once inside the box's
// loop right after it opened, and the box closes itself `closeAfterMs` after that.
class RealModalBoxes {
public:
    using Hook = std::function<void(const MsgBoxCall&)>;
    explicit RealModalBoxes(int closeAfterMs = 50, Hook whileOpen = {});
    ~RealModalBoxes() { setMsgBoxHandler(recordBox); }
    RealModalBoxes(const RealModalBoxes&) = delete;
    RealModalBoxes& operator=(const RealModalBoxes&) = delete;

    // Boxes with this title stay open for `ms` instead (a user reading slowly).
    void keepOpen(const QString& title, int ms) { m_keepOpen.insert(title, ms); }
    // How many boxes are open right now (nested ones count each).
    static int open() { return s_open; }
    static int recordBox(const MsgBoxCall& call)
    {
        boxes().append(call);
        if ((call.style & 0x0f) != vbYesNo)
            return vbOK;
        return boxAnswers().isEmpty() ? int(vbNo) : boxAnswers().takeFirst();
    }

private:
    static inline int s_open = 0;
    QHash<QString, int> m_keepOpen;
};

// Unloads every window and lets Qt delete them now.
void unloadAllWindows();

// Starts the settings store empty: elsewhere than on Windows, by looking for its file in
// `folder`, a new one; on Windows, where it is the registry, by removing its key.
void useEmptyStore(const QString& folder);

// Makes every write to the store fail until the next useEmptyStore(): a folder where its
// file belongs; on Windows a volatile key, below which no lasting one can be made.
bool makeStoreUnwritable();

// Whether this Windows program runs under Wine, which lacks some of the system's parts.
bool underWine();

// Whether the client can tell the server's reset from its orderly close (a failure, with a
// box). Wine reports a reset as a close, and has no query for the connection's state.
inline bool resetsTold()
{
    return !underWine();
}

// Writes a key of the store directly (as an earlier run would have stored it).
void storeSetting(const QString& key, const QString& value);

// A server on 127.0.0.1 with an OS-chosen port and one client at a time.
class LoopbackServer : public QObject {
    Q_OBJECT
public:
    LoopbackServer();
    ~LoopbackServer() override
    {
        if (m_client)
            m_client->abort();
    }

    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(port()); }
    bool waitForClient(int timeoutMs = 5000)
    {
        return QTest::qWaitFor([this] { return !m_client.isNull(); }, timeoutMs);
    }
    // Writes the bytes as one packet and waits until they have left.
    void send(const QByteArray& bytes);
    bool waitForReceived(qsizetype n, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([this, n] { return m_received.size() >= n; }, timeoutMs);
    }
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    int connections() const { return m_connections; } // so far
    void closeClient(bool reset = false); // a reset (RST) if asked, else an orderly close
    bool waitForDisconnect(int timeoutMs = 5000)
    {
        return QTest::qWaitFor([this] { return m_clientGone || !m_client; }, timeoutMs);
    }
    void stopListening() { m_server.close(); }
    bool resumeListening() { return m_server.listen(QHostAddress::LocalHost, m_port); }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    bool m_clientGone = false;
    int m_connections = 0;
    quint16 m_port = 0;
};

// The real server program (tests get it as QUILLORA_SERVER_BIN) with a temporary database
// and its own control socket, stopped when the object goes. It and its commands run through
// sh, which keeps each one's output, process ID and exit code in files of that folder: Wine
// starts Linux programs, but neither waits for them, nor stops them, nor passes them a pipe.
class RealServer {
public:
    explicit RealServer(QString binary)
        : m_binary(std::move(binary)), m_path(serverPath(m_dir.path()))
    {
    }
    ~RealServer() { stop(); }

    // Starts it with the extra arguments (say --password, --demo) and waits until it listens.
    // Started again after stop() or kill(), it keeps its port and database, and begins a new log.
    bool start(const QStringList& extraArguments = {});
    void stop() { end("TERM"); } // as SIGTERM does, closing the database in order
    void kill() { end("KILL"); } // at once, as a crash or a power cut would
    quint16 port() const { return m_port; }
    // The TLS port, when started with a certificate (kept over restarts as the port is).
    quint16 tlsPort() const { return m_tlsPort; }
    // The options for a certificate and key of that name, made with "quillora-server
    // tls-init" the first time; empty if that failed.
    QStringList tlsIdentity(const QString& name);
    // Paths as the server has them (under Wine, Unix ones: the server is a Linux program).
    QString databasePath() const { return m_path + QStringLiteral("/server.sqlite"); }
    QString control() const { return m_path + QStringLiteral("/control"); }
    // Runs "quillora-server ring NUMBER" against it; the exit code (-1 if it hung).
    int ring(const QString& number);
    QString log() const { return QString::fromUtf8(file("server.log")); } // since start()

private:
    static QString serverPath(const QString& path);
    QByteArray file(const QString& name) const;
    // Runs the program with the arguments in the background, its files named `name`.
    void launch(const QString& name, const QStringList& arguments);
    // Its exit code once it ended within the time (-1 if not).
    int exitCode(const QString& name, int timeoutMs) const; // the event loop running
    void end(const char* signal);
    QString m_binary;
    QTemporaryDir m_dir;
    QString m_path; // m_dir's
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
};

// This process's resident memory in MiB, now or at its peak since the last restart of
// the peak (-1 where it cannot be read).
enum class Resident { Now, Peak };
qint64 residentMiB(Resident which = Resident::Now);
void restartResidentPeak();
// Under AddressSanitizer freed memory is held back in quarantine and every block has guard
// zones, so memory figures do not mean what they say.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool MemoryFiguresHold = false;
#else
inline constexpr bool MemoryFiguresHold = true;
#endif

// What the program wrote to its standard output, run in `dir` (10 s at most).
QString runTool(const QString& program, const QStringList& arguments, const QString& dir = {});
// The numbers the pattern's groups capture in what an X tool (xwininfo, xprop) prints.
QList<int> toolNumbers(const QString& pattern, const QString& tool, const QStringList& arguments);
// x, y, width and height of an X window as xwininfo tells them (`which`: -id ID, or -root).
QList<int> xGeometry(const QStringList& which);
// The first visible X window of that name (a regular expression); empty while there is none.
QString visibleWindow(const QString& name);

// A grid's rows below the header, each row's cells joined by "|".
QStringList gridRows(const GridModel& grid);

// The main window's log without the "HH:MM " time stamps, newest first.
QStringList logMessages();

// Fills the main window's fields with the server's address and port, connects, and
// waits until the Connect event has been handled.
bool connectMainWindow(LoopbackServer& server);
bool connectMainWindowTo(quint16 port);

} // namespace testsupport
