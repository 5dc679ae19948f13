#pragma once

// Shared test fixtures: an isolated settings store, recorded message boxes, a clean
// window registry between cases, and a loopback peer that sends and records exact bytes.

#include "shell/msgbox.h"
#include "statistics/gridmodel.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace testsupport {

// Every message box shown since the last reset, in order.
QList<MsgBoxCall>& boxes();

// Points the settings store at a fresh temporary folder, records message boxes
// instead of showing them, and resets the shared variables and the window registry.
// Construct one per test case (init) and destroy it in cleanup.
class Environment {
public:
    Environment();
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    QString settingsFolder() const { return m_dir.path(); }
    QString settingsFile() const;

private:
    QTemporaryDir m_dir;
};

// While it lives, every message box is a real modal box running its own event loop, as
// for users: it is recorded in boxes(), `whileOpen` (if any) runs once inside the box's
// loop right after it opened, and the box closes itself `closeAfterMs` after that. Restores
// the recorder of the Environment when it goes.
class RealModalBoxes {
public:
    using Hook = std::function<void(const MsgBoxCall&)>;
    explicit RealModalBoxes(int closeAfterMs = 50, Hook whileOpen = {});
    ~RealModalBoxes();
    RealModalBoxes(const RealModalBoxes&) = delete;
    RealModalBoxes& operator=(const RealModalBoxes&) = delete;

    // Boxes with this title stay open for `ms` instead (a user reading slowly).
    void keepOpen(const QString& title, int ms);

    // How many boxes are open right now (nested ones count each).
    static int open();

private:
    QHash<QString, int> m_keepOpen;
};

// Runs a command-line tool (the X tools of the desktop tests) and returns what it wrote
// to its standard output; empty when it could not run within 10 s.
QString runTool(const QString& program, const QStringList& arguments);

// Unloads every window and lets Qt delete them now.
void unloadAllWindows();

// Writes a key of the store directly (as a stored file of an earlier run would hold it).
void storeSetting(const QString& key, const QString& value);

// A server on 127.0.0.1 with an OS-chosen port and one client at a time.
class LoopbackServer : public QObject {
    Q_OBJECT
public:
    LoopbackServer();
    ~LoopbackServer() override;

    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(port()); }

    bool waitForClient(int timeoutMs = 5000);
    bool hasClient() const { return !m_client.isNull(); }

    // Writes the bytes as one packet and waits until they have left.
    void send(const QByteArray& bytes);
    // Waits until at least n bytes have been received in all.
    bool waitForReceived(qsizetype n, int timeoutMs = 5000);
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

    // How many clients have connected so far.
    int connections() const { return m_connections; }

    void closeClient();
    // Ends the connection with a reset (RST) instead of an orderly close.
    void resetClient();
    bool waitForDisconnect(int timeoutMs = 5000);
    void stopListening() { m_server.close(); }
    // Listens again on the same port.
    bool resumeListening() { return m_server.listen(QHostAddress::LocalHost, m_port); }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    bool m_clientGone = false;
    int m_connections = 0;
    quint16 m_port = 0;
};

// This process's resident memory in MiB, now or at its peak since the last restart of
// the peak (-1 where it cannot be read).
enum class Resident { Now, Peak };
qint64 residentMiB(Resident which = Resident::Now);
void restartResidentPeak();
// Whether memory figures mean what they say: under AddressSanitizer freed memory is held
// back in quarantine and every block has guard zones, so they do not.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool MemoryFiguresHold = false;
#else
inline constexpr bool MemoryFiguresHold = true;
#endif

// A grid's rows below the header, each row's cells joined by "|".
QStringList gridRows(const GridModel& grid);

// The main window's log without the "HH:MM " time stamps, newest first.
QStringList logMessages();

// Fills the main window's fields with the server's address and port, connects, and
// waits until the Connect event has been handled.
bool connectMainWindow(LoopbackServer& server);
bool connectMainWindowTo(quint16 port);

} // namespace testsupport
