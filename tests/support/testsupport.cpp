#include "testsupport.h"

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <sys/socket.h>

namespace testsupport {

QList<MsgBoxCall>& boxes()
{
    static QList<MsgBoxCall> list;
    return list;
}

namespace {

int g_openBoxes = 0;

void recordBox(const MsgBoxCall& call)
{
    boxes().append(call);
}

} // namespace

Environment::Environment()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    unloadAllWindows();
    resetModVariables();
    boxes().clear();
    setMsgBoxHandler(recordBox);
}

Environment::~Environment()
{
    unloadAllWindows();
    resetModVariables();
    setMsgBoxHandler({});
}

QString Environment::settingsFile() const
{
    return m_dir.filePath(QStringLiteral("Quillora/Quillora.conf"));
}

RealModalBoxes::RealModalBoxes(int closeAfterMs, Hook whileOpen)
{
    setMsgBoxHandler([this, closeAfterMs, whileOpen](const MsgBoxCall& call) {
        recordBox(call);
        const std::unique_ptr<QMessageBox> box = createMsgBox(call);
        QMessageBox* shown = box.get();
        const int delay = m_keepOpen.value(call.title, closeAfterMs);
        // The hook runs to its end with the box open; the box's time starts after it.
        QTimer::singleShot(0, shown, [whileOpen, call, delay, shown] {
            if (whileOpen)
                whileOpen(call);
            QTimer::singleShot(delay, shown, [shown] { shown->done(QMessageBox::Ok); });
        });
        ++g_openBoxes;
        box->exec();
        --g_openBoxes;
    });
}

void RealModalBoxes::keepOpen(const QString& title, int ms)
{
    m_keepOpen.insert(title, ms);
}

RealModalBoxes::~RealModalBoxes()
{
    setMsgBoxHandler(recordBox);
}

int RealModalBoxes::open()
{
    return g_openBoxes;
}

QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return QString();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

void unloadAllWindows()
{
    forms::unloadAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void storeSetting(const QString& key, const QString& value)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillora"),
                    QStringLiteral("Quillora"));
    store.setValue(QStringLiteral("Settings/") + key, value);
    store.sync();
}

LoopbackServer::LoopbackServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    m_port = m_server.serverPort();
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            if (m_client)
                m_client->abort();
            m_client = socket;
            m_clientGone = false;
            ++m_connections;
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket] { m_received.append(socket->readAll()); });
            connect(socket, &QTcpSocket::disconnected, this, [this] { m_clientGone = true; });
        }
    });
}

LoopbackServer::~LoopbackServer()
{
    if (m_client)
        m_client->abort();
}

bool LoopbackServer::waitForClient(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !m_client.isNull(); }, timeoutMs);
}

void LoopbackServer::send(const QByteArray& bytes)
{
    if (!m_client)
        return;
    m_client->write(bytes);
    m_client->flush();
    (void)QTest::qWaitFor([this] { return !m_client || m_client->bytesToWrite() == 0; }, 5000);
}

bool LoopbackServer::waitForReceived(qsizetype n, int timeoutMs)
{
    return QTest::qWaitFor([this, n] { return m_received.size() >= n; }, timeoutMs);
}

void LoopbackServer::closeClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}

void LoopbackServer::resetClient()
{
    if (!m_client)
        return;
    const linger hard{1, 0}; // closing with a zero linger time sends RST
    ::setsockopt(static_cast<int>(m_client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                 sizeof hard);
    m_client->abort();
}

bool LoopbackServer::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_clientGone || !m_client; }, timeoutMs);
}

} // namespace testsupport

namespace testsupport {

QStringList gridRows(const GridModel& grid)
{
    QStringList rows;
    for (int r = 1; r < grid.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid.cols(); ++c)
            cells << grid.textMatrix(r, c);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

QStringList logMessages()
{
    QStringList result;
    for (const QString& line : frmMain()->logLines())
        result << line.mid(6);
    return result;
}

qint64 residentMiB(Resident which)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = which == Resident::Now ? "VmRSS:" : "VmHWM:";
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024;
    }
    return -1;
}

void restartResidentPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool connectMainWindowTo(quint16 port)
{
    FrmMain* main = frmMain();
    main->txtDebug[0]->setText(QStringLiteral("127.0.0.1"));
    main->txtDebug[1]->setText(QString::number(port));
    main->cmdConnect_Click(0);
    return QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }, 5000) &&
           QTest::qWaitFor(
               [main] { return main->statusPanel[0]->text() == QLatin1String("Connected"); }, 5000);
}

bool connectMainWindow(LoopbackServer& server)
{
    return connectMainWindowTo(server.port()) && server.waitForClient();
}

} // namespace testsupport
