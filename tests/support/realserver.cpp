#include "realserver.h"
#include "testsupport.h"

#include "shell/frmmain.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

namespace testsupport {

namespace {

int g_serverCount = 0;

} // namespace

RealServer::RealServer(QString binary)
    : m_binary(std::move(binary)), m_control(QStringLiteral("quillora-e2e-%1-%2")
                                                 .arg(QCoreApplication::applicationPid())
                                                 .arg(++g_serverCount))
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

RealServer::~RealServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }
}

QString RealServer::databasePath() const
{
    return m_dir.filePath(QStringLiteral("server.sqlite"));
}

bool RealServer::start(const QStringList& extraArguments)
{
    m_process.start(m_binary, QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                          QStringLiteral("--db"), databasePath(),
                                          QStringLiteral("--control"), m_control} +
                                  extraArguments);
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    (void)QTest::qWaitFor(
        [this] {
            const auto match = listening.match(log());
            if (match.hasMatch())
                m_port = static_cast<quint16>(match.captured(1).toUInt());
            return m_port != 0 || m_process.state() == QProcess::NotRunning;
        },
        15000);
    return m_port != 0;
}

QString RealServer::log()
{
    m_output += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_output);
}

bool RealServer::waitForLog(const QString& text, int timeoutMs)
{
    return QTest::qWaitFor([this, &text] { return log().contains(text); }, timeoutMs);
}

int RealServer::ring(const QString& number)
{
    QProcess process;
    process.start(m_binary,
                  {QStringLiteral("ring"), QStringLiteral("--control"), m_control, number});
    // The event loop keeps running, so the client in this process sees the call.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray RealServer::request(const QByteArray& message, const QByteArray& password)
{
    QTcpSocket socket;
    QList<QByteArray> reads;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                     [&] { reads.append(socket.readAll()); });
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    if (!QTest::qWaitFor([&] { return !reads.isEmpty(); }, 5000))
        return {};
    if (!password.isEmpty()) {
        socket.write(password);
        socket.flush();
    }
    // The request follows once the password has been taken as a message of its own.
    const QString accepted =
        QStringLiteral("Client 127.0.0.1:%1 authenticated.").arg(socket.localPort());
    if (!waitForLog(accepted))
        return {};
    socket.write(message);
    socket.flush();
    QByteArray reply;
    (void)QTest::qWaitFor(
        [&] {
            for (qsizetype i = 1; i < reads.size(); ++i) {
                if (!reads[i].startsWith("PING_:")) {
                    reply = reads[i];
                    return true;
                }
            }
            return false;
        },
        5000);
    return reply;
}

void RealServer::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool connectMainWindow(RealServer& server)
{
    return connectMainWindowTo(server.port());
}

} // namespace testsupport
