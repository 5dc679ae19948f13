#include "shell/singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {

// A visitor is dropped: closed at once and deleted once control is back in the loop.
void drop(QLocalSocket* visitor)
{
    visitor->abort();
    visitor->deleteLater();
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(folder)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::runtimeFolder()
{
#ifdef Q_OS_WIN
    // Qt's runtime folder there is the user's profile itself, where the lock would lie in
    // plain sight; the user's temporary folder is as private. The socket is a named pipe.
    return QDir::tempPath();
#else
    // Per user and 0700 (Qt sees to both), so no other user can take the names in it.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).absoluteFilePath(QStringLiteral("quillora-client.lock"));
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).absoluteFilePath(QStringLiteral("quillora-client.socket"));
}

SingleInstance::Role SingleInstance::start()
{
    m_problem.clear();
    if (m_folder.isEmpty()) {
        m_problem = QStringLiteral("no runtime folder: not checking for a running client");
        return Role::Primary;
    }
    if (takeLock()) {
        listen();
        return Role::Primary;
    }
    if (!m_problem.isEmpty())
        return Role::Primary; // the lock could not be had at all: run unguarded
    if (askRunning())
        return Role::Activated;
    // The client that held the lock may have ended meanwhile.
    if (takeLock()) {
        listen();
        return Role::Primary;
    }
    m_problem = QStringLiteral("a client is running already but did not answer within %1 s; "
                               "not starting a second one")
                    .arg(AnswerMilliseconds / 1000);
    return Role::NoAnswer;
}

bool SingleInstance::takeLock()
{
    auto lock = std::make_unique<QLockFile>(lockPath());
    // Stale only when the process that holds it is gone, however long it has run.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (lock->error() != QLockFile::LockFailedError)
        m_problem =
            QStringLiteral("cannot create %1: not checking for a running client").arg(lockPath());
    return false;
}

void SingleInstance::listen()
{
    // A socket file left by a client that died would make listening fail; only the
    // holder of the lock gets here, so no live client owns it.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::visitorsArrived);
    if (!m_server->listen(socketPath()))
        m_problem = QStringLiteral("cannot listen on %1 (%2): a second start will not find "
                                   "this client")
                        .arg(socketPath(), m_server->errorString());
}

bool SingleInstance::askRunning()
{
    const QDeadlineTimer deadline(AnswerMilliseconds);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        // The running client may have taken the lock and not be listening yet.
        QThread::msleep(100);
    }
    socket.write(Request);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < Answer.size()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        answer += socket.read(Answer.size() - answer.size());
    }
    return answer == Answer;
}

void SingleInstance::visitorsArrived()
{
    while (QLocalSocket* visitor = m_server->nextPendingConnection()) {
        if (m_visitors >= MaxVisitors) {
            drop(visitor);
            continue;
        }
        ++m_visitors;
        connect(visitor, &QObject::destroyed, this, [this] { --m_visitors; });
        // Qt reads no more than this from the peer; the rest stays in the kernel.
        visitor->setReadBufferSize(MaxRequestBytes);
        auto* silence = new QTimer(visitor);
        silence->setSingleShot(true);
        connect(silence, &QTimer::timeout, visitor, [visitor] { drop(visitor); });
        silence->start(SilenceMilliseconds);
        connect(visitor, &QLocalSocket::disconnected, visitor, &QObject::deleteLater);
        connect(visitor, &QLocalSocket::readyRead, this, [this, visitor] { readVisitor(visitor); });
        if (visitor->bytesAvailable() > 0)
            readVisitor(visitor);
    }
}

void SingleInstance::readVisitor(QLocalSocket* visitor)
{
    const QByteArray seen = visitor->peek(MaxRequestBytes);
    const qsizetype end = seen.indexOf('\n');
    if (end < 0) {
        if (seen.size() >= MaxRequestBytes)
            drop(visitor);
        return;
    }
    if (seen.left(end + 1) != Request) {
        drop(visitor);
        return;
    }
    disconnect(visitor, &QLocalSocket::readyRead, this, nullptr);
    visitor->write(Answer);
    visitor->disconnectFromServer();
    emit activationRequested();
}
