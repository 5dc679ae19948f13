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

QString RealServer::serverPath(const QString& path)
{
#ifdef Q_OS_WIN
    const auto toUnix = reinterpret_cast<char* (*)(LPCWSTR)>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (char* unixPath = toUnix ? toUnix(reinterpret_cast<LPCWSTR>(path.utf16())) : nullptr) {
        const QString result = QString::fromUtf8(unixPath);
        HeapFree(GetProcessHeap(), 0, unixPath);
        return result;
    }
#endif
    return path;
}

QByteArray RealServer::file(const QString& name) const
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void RealServer::launch(const QString& name, const QStringList& arguments)
{
    for (const char* kind : {".log", ".pid", ".exit"})
        QFile::remove(m_dir.filePath(name + kind));
    const QString script = "exec </dev/null >\"$0.log\" 2>&1; \"$@\" & echo $! >\"$0.pid\"; "
                           "wait $!; echo $? >\"$0.exit\"";
    QProcess::startDetached("/bin/sh",
                            QStringList{"-c", script, m_path + '/' + name, m_binary} + arguments);
}

int RealServer::exitCode(const QString& name, int timeoutMs) const
{
    const auto ended = [&] { return !file(name + ".exit").isEmpty(); };
    return QTest::qWaitFor(ended, timeoutMs) ? file(name + ".exit").trimmed().toInt() : -1;
}

void RealServer::end(const char* signal)
{
    const QByteArray pid = file("server.pid").trimmed();
    if (pid.isEmpty() || exitCode("server", 0) >= 0)
        return;
    QProcess::startDetached("/bin/kill", {QString("-") + signal, pid});
    if (exitCode("server", 5000) < 0 && qstrcmp(signal, "KILL") != 0)
        end("KILL");
}

bool RealServer::start(const QStringList& extraArguments)
{
    const QStringList tls{"--tls-port", QString::number(m_tlsPort)};
    launch("server", QStringList{"--port", QString::number(m_port), "--db", databasePath(),
                                 "--control", control()} +
                         (extraArguments.contains("--tls-cert") ? tls : QStringList()) +
                         extraArguments);
    static const QRegularExpression plain("Listening on [0-9.]+:(\\d+)"),
        secure("Listening with TLS on [0-9.]+:(\\d+)");
    (void)QTest::qWaitFor(
        [this] { // it listens (the control socket comes last), or it ended
            return (log().contains("Control socket:") && !file("server.pid").isEmpty()) ||
                   !file("server.exit").isEmpty();
        },
        15000);
    m_port = plain.match(log()).captured(1).toUShort();
    m_tlsPort = secure.match(log()).captured(1).toUShort();
    return m_port != 0;
}

QStringList RealServer::tlsIdentity(const QString& name)
{
    const QStringList files{"--tls-cert", m_path + "/" + name + ".crt", "--tls-key",
                            m_path + "/" + name + ".key"};
    if (QFile::exists(m_dir.filePath(name + ".key")))
        return files;
    launch("tls-init", QStringList{"tls-init"} + files);
    return exitCode("tls-init", 30000) == 0 ? files : QStringList();
}

int RealServer::ring(const QString& number)
{
    launch("ring", {"ring", "--control", control(), number});
    return exitCode("ring", 15000);
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

QList<int> toolNumbers(const QString& pattern, const QString& tool, const QStringList& arguments)
{
    QList<int> numbers;
    const auto match = QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
                           .match(runTool(tool, arguments));
    for (const QString& n : match.capturedTexts().mid(1))
        numbers << n.toInt();
    return numbers;
}

QList<int> xGeometry(const QStringList& which)
{
    return toolNumbers("Absolute upper-left X:\\s+(-?\\d+)\\s+Absolute upper-left Y:\\s+(-?\\d+)"
                       ".*Width: (\\d+)\\s+Height: (\\d+)",
                       "xwininfo", which);
}

QString visibleWindow(const QString& name)
{
    return runTool("xdotool", {"search", "--onlyvisible", "--name", name}).section('\n', 0, 0);
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
