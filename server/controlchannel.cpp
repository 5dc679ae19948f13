#include "controlchannel.h"

#include <QLocalSocket>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr int MaxLineBytes = 512;
constexpr int ClientTimeoutMs = 5000;
const QByteArray RingCommand = "RING ";

} // namespace

ControlChannel::ControlChannel(Ring ring, QObject* parent)
    : QObject(parent), m_ring(std::move(ring))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &ControlChannel::onConnection);
}

QString ControlChannel::nameForPort(quint16 port)
{
    return QStringLiteral("quillora-server-%1").arg(port);
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
    QLocalServer::removeServer(name); // what a killed server left behind
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
    socket.write(RingCommand + number.toUtf8() + '\n');
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(ClientTimeoutMs))
        answer += socket.readAll();
    answer += socket.readAll();
    const QString text = QString::fromUtf8(answer).trimmed();
    if (text.startsWith(QLatin1String("OK "))) {
        out << text.mid(3) << Qt::endl;
        return 0;
    }
    if (text.startsWith(QLatin1String("ERROR "))) {
        err << "quillora-server ring: " << text.mid(6) << Qt::endl;
        return 1;
    }
    err << "quillora-server ring: the server did not answer." << Qt::endl;
    return 1;
}
