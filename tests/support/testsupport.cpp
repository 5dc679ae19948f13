#include "testsupport.h"

#include "testkit.h"

#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace testsupport {

Environment::Environment()
{
    useEmptyStore(m_dir.path());
    unloadAllWindows();
    resetModVariables();
    boxes().clear();
    boxAnswers().clear();
    setMsgBoxHandler(RealModalBoxes::recordBox);
}

Environment::~Environment()
{
    unloadAllWindows();
    resetModVariables();
    useEmptyStore(m_dir.path());
    setMsgBoxHandler({});
}

RealModalBoxes::RealModalBoxes(int closeAfterMs, Hook whileOpen)
{
    setMsgBoxHandler([this, closeAfterMs, whileOpen](const MsgBoxCall& call) {
        const int answer = recordBox(call);
        const std::unique_ptr<QMessageBox> box = createMsgBox(call);
        const int delay = m_keepOpen.value(call.title, closeAfterMs);
        const int button = answer == vbYes  ? QMessageBox::Yes
                           : answer == vbNo ? QMessageBox::No
                                            : QMessageBox::Ok;
        // The hook runs to its end with the box open; the box's time starts after it.
        QTimer::singleShot(0, box.get(), [whileOpen, call, delay, shown = box.get(), button] {
            if (whileOpen)
                whileOpen(call);
            QTimer::singleShot(delay, shown, [shown, button] { shown->done(button); });
        });
        ++s_open;
        const int result = box->exec();
        --s_open;
        return msgBoxResult(result, call.style);
    });
}

void unloadAllWindows()
{
    forms::unloadAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

#ifdef Q_OS_WIN
namespace {
const wchar_t StoreKey[] = L"Software\\VB and VBA Program Settings\\Quillora";
}
#endif

void useEmptyStore(const QString& folder)
{
#ifdef Q_OS_WIN
    // The registry is the same for the whole run, whatever paths are set.
    Q_UNUSED(folder)
    RegDeleteTreeW(HKEY_CURRENT_USER, StoreKey);
#else
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
#endif
}

bool makeStoreUnwritable()
{
#ifdef Q_OS_WIN
    // Below a volatile key no lasting one can be made, as the store's section is.
    RegDeleteTreeW(HKEY_CURRENT_USER, StoreKey);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, StoreKey, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
#else
    // A folder where the file belongs: not even the superuser can write it.
    const QString file = SettingsStore::location();
    return (QFile::remove(file) || !QFile::exists(file)) && QDir().mkpath(file);
#endif
}

bool underWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

void storeSetting(const QString& key, const QString& value)
{
    QSettings store(SettingsStore::location(), QSettings::NativeFormat);
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

void LoopbackServer::send(const QByteArray& bytes)
{
    if (!m_client)
        return;
    m_client->write(bytes);
    m_client->flush();
    (void)QTest::qWaitFor([this] { return !m_client || m_client->bytesToWrite() == 0; }, 5000);
}

void LoopbackServer::closeClient(bool reset)
{
    if (m_client && reset)
        testkit::resetOnClose(m_client->socketDescriptor());
    if (m_client)
        reset ? m_client->abort() : m_client->disconnectFromHost();
}

void RealServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        kill();
}

bool RealServer::start(const QStringList& extraArguments)
{
    m_log.clear();
    const QStringList tls{"--tls-port", QString::number(m_tlsPort)};
    m_port = testkit::startListening(
        m_process, m_binary,
        QStringList{"--port", QString::number(m_port), "--db", databasePath(), "--control",
                    control()} +
            (extraArguments.contains("--tls-cert") ? tls : QStringList()) + extraArguments,
        &m_log);
    static const QRegularExpression listening("Listening with TLS on [0-9.]+:(\\d+)");
    m_tlsPort = listening.match(m_log).captured(1).toUShort();
    return m_port != 0;
}

QStringList RealServer::tlsIdentity(const QString& name)
{
    const QStringList files{"--tls-cert", m_dir.filePath(name + ".crt"), "--tls-key",
                            m_dir.filePath(name + ".key")};
    if (QFile::exists(files[1]))
        return files;
    QProcess init;
    init.start(m_binary, QStringList{"tls-init"} + files);
    return init.waitForFinished() && init.exitCode() == 0 ? files : QStringList();
}

int RealServer::ring(const QString& number)
{
    QProcess process;
    process.start(m_binary, {"ring", "--control", control(), number});
    // The event loop keeps running, so the client in this process sees the call.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString runTool(const QString& program, const QStringList& arguments, const QString& dir)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        process.kill();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

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
    const qint64 kB = testkit::statusFigure(0, which == Resident::Now ? "VmRSS" : "VmHWM");
    return kB < 0 ? -1 : kB / 1024;
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
