#pragma once

// The real quillora-server program for end-to-end tests: started on a free port with a
// temporary database and its own control socket, stopped when the object goes.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class RealServer {
public:
    // binary: the server program (tests get it as QUILLORA_SERVER_BIN).
    explicit RealServer(QString binary);
    ~RealServer();
    RealServer(const RealServer&) = delete;
    RealServer& operator=(const RealServer&) = delete;

    // Starts it with --port 0, the temporary database, its own control socket and the
    // extra arguments (say --password, --demo), and waits until it listens. Started
    // again after stop() or kill(), it keeps its port and database and begins a new log.
    bool start(const QStringList& extraArguments = {});
    // Ends it as SIGTERM does, so it closes the database in order.
    void stop();
    // Ends it at once (SIGKILL), as a crash or a power cut would.
    void kill();

    quint16 port() const { return m_port; }
    QString databasePath() const;

    // Runs "quillora-server ring NUMBER" against it; the exit code (-1 if it hung).
    int ring(const QString& number);

    QString log(); // all it has written since it was started

private:
    QString m_binary;
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    QString m_control;
    quint16 m_port = 0;
};

} // namespace testsupport
