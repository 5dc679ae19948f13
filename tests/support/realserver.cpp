#include "realserver.h"

#include <QCoreApplication>
#include <QRegularExpression>
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
    stop();
}

void RealServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

void RealServer::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString RealServer::databasePath() const
{
    return m_dir.filePath(QStringLiteral("server.sqlite"));
}

bool RealServer::start(const QStringList& extraArguments)
{
    m_output.clear();
    const quint16 port = m_port; // started again, on the port it had
    m_port = 0;
    m_process.start(m_binary, QStringList{QStringLiteral("--port"), QString::number(port),
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

} // namespace testsupport
