#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One client per user. The first client to start holds a lock file for its lifetime and
// listens on a local socket, both in the user's private runtime folder (on Windows the
// user's temporary folder, the socket a named pipe named after its path). A later start
// finds the lock taken, asks the running client through the socket to come forward, and
// ends. A lock left by a client that died is taken over, its socket file replaced.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,   // this client runs (alone, or unguarded where the lock cannot be had)
        Activated, // the running client took the request: end this one
        NoAnswer,  // a client runs but did not take the request in time
    };

    // How long a second start waits for the running client to answer.
    static constexpr int AnswerMilliseconds = 5000;
    // A visitor of the socket that has not sent its request by then is dropped.
    static constexpr int SilenceMilliseconds = 2000;
    // The request, the answer, and what is read of a visitor at most.
    static inline const QByteArray Request = QByteArrayLiteral("activate\n");
    static inline const QByteArray Answer = QByteArrayLiteral("ok\n");
    static constexpr int MaxRequestBytes = 16;
    // Visitors beyond this many at a time are dropped at once.
    static constexpr int MaxVisitors = 4;

    // `folder` holds the lock and the socket; by default the runtime folder.
    explicit SingleInstance(const QString& folder = runtimeFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens, or asks the client holding it to come forward (waiting
    // for its answer).
    Role start();
    // What went wrong in start(), for standard error: why this client runs unguarded, or
    // that the running one did not answer. Empty when all went well.
    QString problem() const { return m_problem; }

    QString lockPath() const;
    QString socketPath() const;
    static QString runtimeFolder();

signals:
    // A later start asked this client to come forward.
    void activationRequested();

private:
    bool takeLock();
    void listen();
    bool askRunning();
    void visitorsArrived();
    void readVisitor(QLocalSocket* visitor);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    QString m_problem;
    int m_visitors = 0;
};
