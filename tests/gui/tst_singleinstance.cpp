// One client per user: an in-process first client against the real client binary started
// again, over real local sockets in a private runtime folder.

#include "shell/singleinstance.h"

#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The client binary, run with its own settings and runtime folders.
class Client {
public:
    explicit Client(const QString& runtimeFolder, bool offscreen = true)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeFolder);
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        if (offscreen)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(env);
    }
    ~Client()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    QProcess& start(const QStringList& args = {})
    {
        m_process.start(QUILLORA_CLIENT_BIN, args);
        return m_process;
    }
    // Runs to its end (the event loop turning, so an in-process client can answer).
    bool finishes()
    {
        return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, 20000);
    }
    QProcess& process() { return m_process; }

private:
    QTemporaryDir m_home;
    QProcess m_process;
};

// A visitor's connection to the first client.
bool dropped(QLocalSocket& socket, int timeoutMs = 5000)
{
    return QTest::qWaitFor([&socket] { return socket.state() == QLocalSocket::UnconnectedState; },
                           timeoutMs);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> runtime;

private slots:
    void init() { runtime = std::make_unique<QTemporaryDir>(); }
    void cleanup() { runtime.reset(); }

    void aSecondStartBringsTheFirstForward()
    {
        SingleInstance first(runtime->path());
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QCOMPARE(first.problem(), QString());
        QSignalSpy activated(&first, &SingleInstance::activationRequested);

        Client second(runtime->path());
        second.start();
        QVERIFY(second.finishes());
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(activated.size(), 1);
    }

    // Visitors that flood, send something else or nothing are dropped without an
    // activation; a proper request, even in pieces, still gets its answer afterwards.
    void theSocketWithstandsHostileVisitors()
    {
        SingleInstance first(runtime->path());
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy activated(&first, &SingleInstance::activationRequested);

        QLocalSocket flood;
        flood.connectToServer(first.socketPath());
        QVERIFY(flood.waitForConnected());
        flood.write(QByteArray(1 << 20, 'x'));
        QVERIFY(dropped(flood));

        QLocalSocket stranger;
        stranger.connectToServer(first.socketPath());
        QVERIFY(stranger.waitForConnected());
        stranger.write("hello\n");
        QVERIFY(dropped(stranger));

        QLocalSocket silent;
        silent.connectToServer(first.socketPath());
        QVERIFY(silent.waitForConnected());
        QVERIFY(dropped(silent, SingleInstance::SilenceMilliseconds + 5000));
        QCOMPARE(activated.size(), 0);

        QLocalSocket friendly;
        friendly.connectToServer(first.socketPath());
        QVERIFY(friendly.waitForConnected());
        friendly.write("acti");
        QTest::qWait(50);
        friendly.write("vate\n");
        QTRY_COMPARE(activated.size(), 1);
        QByteArray answer;
        QTRY_COMPARE(answer += friendly.readAll(), SingleInstance::Answer);
    }

    void helpAndVersionNeedNoDisplay()
    {
        Client client(runtime->path(), false);
        QProcess& process = client.start({"--version"});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), QByteArray("quillora-client 0.9\n"));

        client.start({"-h"});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(process.readAllStandardOutput().startsWith("Usage: quillora-client"));
    }

    void anUnknownOptionEndsWithTwo()
    {
        Client client(runtime->path());
        QProcess& process = client.start({"-platform", "offscreen", "--bogus"});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("'--bogus'\nTry quillora-client --help."));
    }

    // A client killed outright leaves its lock and socket files: the next start takes
    // them over, and a start after that finds it.
    void aDeadClientsLeftoversDoNotBlock()
    {
        SingleInstance paths(runtime->path());
        Client dead(runtime->path());
        dead.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(paths.socketPath()), 20000);
        dead.process().kill();
        QVERIFY(dead.process().waitForFinished());
        QVERIFY(QFile::exists(paths.lockPath()) && QFile::exists(paths.socketPath()));

        Client next(runtime->path());
        next.start();
        const auto holder = [&paths] {
            qint64 pid = 0;
            QString host, app;
            QLockFile(paths.lockPath()).getLockInfo(&pid, &host, &app);
            return pid;
        };
        QTRY_COMPARE_WITH_TIMEOUT(holder(), next.process().processId(), 20000);

        Client third(runtime->path());
        third.start();
        QVERIFY(third.finishes());
        QCOMPARE(third.process().exitCode(), 0);
        QCOMPARE(next.process().state(), QProcess::Running);
    }

    // The lock held by a live process that does not answer: no second client.
    void noAnswerEndsWithOne()
    {
        SingleInstance paths(runtime->path());
        QLockFile held(paths.lockPath());
        QVERIFY(held.tryLock(0));
        Client second(runtime->path());
        second.start();
        QVERIFY(second.finishes());
        QCOMPARE(second.process().exitCode(), 1);
        QVERIFY(second.process().readAllStandardError().contains("did not answer"));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
