#include "controlchannel.h"

#include "printable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QTextStream>
#include <QTimer>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MaxLineBytes = 512;
constexpr int ClientTimeoutMs = 5000;
const QByteArray RingCommand = "RING ";

// The user's folder for sockets: $XDG_RUNTIME_DIR, else one of the user's own below the
// temporary folder (never the shared temporary folder itself, where anyone could put a
// socket of that name first).
QString runtimeFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::cleanPath(QDir::tempPath()) + QStringLiteral("/quillora-%1").arg(::geteuid());
}

// Where QLocalServer and QLocalSocket put a socket of that name.
QString socketPath(const QString& name)
{
    return QDir::isAbsolutePath(name) ? name : QDir::cleanPath(QDir::tempPath()) + '/' + name;
}

// The file's status, not following a last symbolic link; false when it does not exist.
bool fileStatus(const QString& path, struct stat* status, bool followLink = false)
{
    const QByteArray name = QFile::encodeName(path);
    return (followLink ? ::stat(name.constData(), status) : ::lstat(name.constData(), status)) == 0;
}

bool writableByOthers(const struct stat& status)
{
    return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Makes the runtime folder when it is missing; empty when it is this user's and no one
// else may write to it, else why not.
QString ensureRuntimeFolder(const QString& folder)
{
    if (!QFileInfo::exists(folder))
        ::mkdir(QFile::encodeName(folder).constData(), S_IRWXU);
    // Below the temporary folder anyone could have put a link there first.
    const bool fromEnvironment = !folder.startsWith(QDir::cleanPath(QDir::tempPath()) + '/');
    struct stat status {};
    if (!fileStatus(folder, &status, fromEnvironment) || !S_ISDIR(status.st_mode))
        return QStringLiteral("The folder %1 for the control socket cannot be made.").arg(folder);
    if (status.st_uid != ::geteuid() || writableByOthers(status))
        return QStringLiteral("The folder %1 for the control socket is not this user's own "
                              "(owner %2, mode %3): give --control.")
            .arg(folder)
            .arg(status.st_uid)
            .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

// Whether a server of the peer's user may be told calls through the socket: one of this
// user or the superuser, or the owner of the socket's folder when the superuser gave it
// that folder (as a service's runtime folder, /run/quillora): no one else may write to
// the folder, and only the superuser to the folder it is in.
bool trustedPeer(uid_t peer, const QString& path)
{
    if (peer == ::geteuid() || peer == 0)
        return true;
    const QString folder = QFileInfo(path).absolutePath();
    struct stat status {};
    struct stat above {};
    return fileStatus(folder, &status) && S_ISDIR(status.st_mode) && status.st_uid == peer &&
           !writableByOthers(status) && fileStatus(QFileInfo(folder).path(), &above) &&
           S_ISDIR(above.st_mode) && above.st_uid == 0 && !writableByOthers(above);
}

} // namespace

ControlChannel::ControlChannel(Ring ring, QObject* parent)
    : QObject(parent), m_ring(std::move(ring))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &ControlChannel::onConnection);
}

QString ControlChannel::nameForPort(quint16 port)
{
    return runtimeFolder() + QStringLiteral("/quillora-server-%1").arg(port);
}

bool ControlChannel::listen(const QString& name, QString* error)
{
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(1000)) {
            *error =
                QStringLiteral("Another server already uses the control socket \"%1\".").arg(name);
            return false;
        }
    }
    const QString path = socketPath(name);
    if (QFileInfo(path).absolutePath() == runtimeFolder()) {
        *error = ensureRuntimeFolder(runtimeFolder());
        if (!error->isEmpty())
            return false;
    }
    // What a killed server left behind is taken over; another user's file is not.
    struct stat status {};
    if (fileStatus(path, &status)) {
        if (!S_ISSOCK(status.st_mode) || status.st_uid != ::geteuid()) {
            *error = QStringLiteral("Cannot open the control socket \"%1\": %2 is in the way "
                                    "(owner %3).")
                         .arg(name, S_ISSOCK(status.st_mode)
                                        ? QStringLiteral("another user's socket")
                                        : QStringLiteral("a file that is no socket"))
                         .arg(status.st_uid);
            return false;
        }
        QLocalServer::removeServer(name);
    }
    if (!m_server.listen(name)) {
        *error = QStringLiteral("Cannot open the control socket \"%1\": %2")
                     .arg(name, m_server.errorString());
        return false;
    }
    return true;
}

QString ControlChannel::checkNumber(const QString& number)
{
    if (number.trimmed().isEmpty())
        return QStringLiteral("The number is empty.");
    if (number.size() > MaxNumberLength)
        return QStringLiteral("The number is longer than %1 characters.").arg(MaxNumberLength);
    for (const QChar c : number) {
        if (!c.isPrint())
            return QStringLiteral("The number holds a character that cannot be shown.");
    }
    return QString();
}

void ControlChannel::onConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        QPointer<QLocalSocket> guard(socket);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(ClientTimeoutMs, socket, [guard] {
            if (guard)
                guard->abort();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxLineBytes)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(MaxLineBytes).trimmed();
            QString answer;
            if (!line.startsWith(RingCommand)) {
                answer = QStringLiteral("ERROR Unknown command.");
            } else {
                const QString number = QString::fromUtf8(line.mid(RingCommand.size())).trimmed();
                const QString problem = checkNumber(number);
                answer = problem.isEmpty() ? QStringLiteral("OK ") + m_ring(number)
                                           : QStringLiteral("ERROR ") + problem;
            }
            socket->disconnect(this); // one command per connection
            socket->write(answer.toUtf8() + '\n');
            socket->disconnectFromServer();
        });
    }
}

int ControlChannel::ring(const QString& name, const QString& number, QTextStream& out,
                         QTextStream& err)
{
    const QString problem = checkNumber(number);
    if (!problem.isEmpty()) {
        err << "quillora-server ring: " << problem << Qt::endl;
        return 1;
    }
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(ClientTimeoutMs)) {
        err << "quillora-server ring: no Quillora server is running here (nothing answers on "
               "the control socket \""
            << name
            << "\"). Start one first, or give the --port (or --control) that the running "
               "server uses."
            << Qt::endl;
        return 1;
    }
    // The number goes only to a server of a user who may serve this socket: in a folder that
    // others can write to, someone else's program could have taken the name first.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) !=
            0 ||
        !trustedPeer(peer.uid, socket.fullServerName())) {
        err << "quillora-server ring: the program on the control socket runs as another user "
               "(uid "
            << peer.uid << "); the call was not sent to it." << Qt::endl;
        return 1;
    }
    socket.write(RingCommand + number.toUtf8() + '\n');
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(ClientTimeoutMs))
        answer += socket.readAll();
    answer += socket.readAll();
    const QString text = QString::fromUtf8(answer).trimmed();
    // Escaped here too: this goes to a terminal, and the server may not be one that escapes.
    if (text.startsWith(QLatin1String("OK "))) {
        out << printable::escaped(text.mid(3)) << Qt::endl;
        return 0;
    }
    if (text.startsWith(QLatin1String("ERROR "))) {
        err << "quillora-server ring: " << printable::escaped(text.mid(6)) << Qt::endl;
        return 1;
    }
    err << "quillora-server ring: the server did not answer." << Qt::endl;
    return 1;
}
