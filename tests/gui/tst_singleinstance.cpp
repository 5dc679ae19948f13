// One client per user and the command line: an in-process first client against the real
// client binary started again, over real local sockets in a private runtime folder.

#include "shell/singleinstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <list>

class TestSingleInstance : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> runtime;
    QTemporaryDir home;
    std::list<QProcess> clients;

    // The client binary with its own folders; without a display unless `offscreen`.
    QProcess& start(const QStringList& args = {}, bool offscreen = true)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        if (offscreen)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", runtime->path());
        env.insert("TMP", QDir::toNativeSeparators(runtime->path())); // the same on Windows
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        QProcess& client = clients.emplace_back();
        client.setProcessEnvironment(env);
        client.start(QUILLORA_CLIENT_BIN, args);
        return client;
    }
    // Runs to its end, the event loop turning so that an in-process client can answer;
    // its exit code, -1 when it did not end.
    static int exitCode(QProcess& client)
    {
        const auto ended = [&] { return client.state() == QProcess::NotRunning; };
        return QTest::qWaitFor(ended, 20000) ? client.exitCode() : -1;
    }

private slots:
    void init() { runtime = std::make_unique<QTemporaryDir>(); } // the last one removed
    void cleanup() { clients.clear(); } // each killed, and waited for, as it goes

    // The version and mistakes are answered without a display (none is given).
    void theCommandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("output"); // part of what it prints
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("quillora-client 0.9\n");
        QTest::newRow("mistake") << QStringList{"-platform", "offscreen", "--bogus"} << 2
                                 << QByteArray("'--bogus'\nTry quillora-client --help.");
    }
    void theCommandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, output);
        QProcess& client = start(args, false);
        QCOMPARE(exitCode(client), code);
        QByteArray printed = client.readAllStandardOutput() + client.readAllStandardError();
#ifdef Q_OS_WIN
        printed.replace("\r\n", "\n"); // text written there ends its lines so
#endif
        QVERIFY2(printed.contains(output), printed.constData());
    }

    // A client killed outright leaves its lock and socket: the next start takes them over,
    // and a start after that brings it forward and ends. A lock held by a live process that
    // does not answer: no second client.
    void leftoversAndSilence()
    {
        SingleInstance paths(runtime->path());
        QProcess& dead = start();
        const auto listening = [&] { // on Windows a named pipe, no file
            QLocalSocket socket;
            socket.connectToServer(paths.socketPath());
            return socket.waitForConnected(100);
        };
        QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);
        dead.kill();
        QVERIFY(dead.waitForFinished());
        {
            SingleInstance next(runtime->path());
            QCOMPARE(next.start(), SingleInstance::Role::Primary);
            QSignalSpy activated(&next, &SingleInstance::activationRequested);
            QCOMPARE(exitCode(start()), 0);
            QCOMPARE(activated.size(), 1);
        }
        QLockFile held(paths.lockPath());
        QVERIFY(held.tryLock(0));
        QProcess& third = start();
        QCOMPARE(exitCode(third), 1);
        QVERIFY(third.readAllStandardError().contains("did not answer"));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
