// Getting the connection back, with the real server process: killed and started again on
// its port, the client is back within the back-off, logs the calls rung meanwhile and
// shows the next one; the user's Disconnect, a wrong password and an unticked Reconnect
// leave it disconnected.

#include "faultproxy.h"
#include "popup/frmquillora.h"
#include "realserver.h"
#include "session/deadpeer.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QTest>

using testsupport::logMessages;

namespace {

const QString Password = QStringLiteral("open sesame");
constexpr int RefusalMs = 300;

// Waits until the newest log line matches.
bool logged(const QString& pattern, int timeoutMs = 10000)
{
    const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
    return QTest::qWaitFor([&] { return expression.match(logMessages().value(0)).hasMatch(); },
                           timeoutMs);
}

} // namespace

class TestReconnect final : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::RealServer> m_server;

    // Logged in (past the moment a refused password would show).
    bool connectClient(const QString& password = Password)
    {
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), password);
        if (!testsupport::connectMainWindowTo(m_server->port()) ||
            !QTest::qWaitFor([] { return frmMain()->sckConnect().isGreeted(); }))
            return false;
        QTest::qWait(RefusalMs + 100);
        return true;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("True"));
        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
        m_server = std::make_unique<testsupport::RealServer>(QStringLiteral(QUILLORA_SERVER_BIN));
        QVERIFY(m_server->start({"--password", Password, "--demo"}));
    }

    void cleanup()
    {
        testsupport::unloadAllWindows();
        m_server.reset();
        m_env.reset();
        ConnectionKeeper::times() = {};
    }

    void backAfterARestartWithTheCallsMissed()
    {
        // Through a proxy that resets every retry until the server has rung, however long
        // starting it again takes here.
        testsupport::FaultProxy proxy(m_server->port());
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), Password);
        QVERIFY(testsupport::connectMainWindowTo(proxy.port()));
        QVERIFY(QTest::qWaitFor([] { return frmMain()->sckConnect().isGreeted(); }));
        QTest::qWait(RefusalMs + 100);
        m_server->kill();
        proxy.setMode(testsupport::FaultProxy::Mode::Reset);
        QVERIFY(logged("Reconnecting in [23] s \\(attempt 2 of 5\\)\\."));
        QVERIFY(m_server->start({"--password", Password}));
        QCOMPARE(m_server->ring(QStringLiteral("555-0142")), 0);
        QVERIFY(!logMessages().contains("Reconnected."));
        proxy.setMode(testsupport::FaultProxy::Mode::PassThrough);

        QVERIFY(logged("Missed while disconnected: \\d\\d:\\d\\d 555-0142 .*", 20000));
        QCOMPARE(logMessages()[1], QString("Reconnected."));
        QCOMPARE(m_server->ring(QStringLiteral("555-0199")), 0);
        QVERIFY(QTest::qWaitFor([] {
            const FrmQuillora* popUp = forms::loadedOrNull<FrmQuillora>();
            return popUp && popUp->lblNumberCalling->text() == QLatin1String("555-0199");
        }));
        QCOMPARE(testsupport::boxes().size(), 0);
    }

    // Through a proxy of the tests' own: a link that goes silent is found dead within
    // three of the server's probe intervals; a reset is a failure without a box; a retry
    // that gets no answer fails after its time. Each time the client comes back.
    void badLinks()
    {
        m_server->stop();
        QVERIFY(m_server->start({"--password", Password, "--ping-interval", "1"}));
        testsupport::FaultProxy proxy(m_server->port());
        DeadPeerWatch::setMinimumSilence(2000);
        ConnectionKeeper::times().attemptTimeoutMs = 1500;
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), Password);
        FrmMain* main = frmMain();
        QVERIFY(testsupport::connectMainWindowTo(proxy.port()));
        // Back, and past the moment a loss would count as a refused password.
        const auto backAgain = [main] {
            const bool back = logged("Reconnected\\.") && main->sckConnect().isGreeted();
            QTest::qWait(RefusalMs + 100);
            return back;
        };
        QVERIFY(QTest::qWaitFor([main] { return main->keeper().deadPeerWatch().armed(); }));

        proxy.setMode(testsupport::FaultProxy::Mode::BlackHole);
        QVERIFY(logged("Reconnecting in [12] s \\(attempt 1 of 5\\)\\."));
        // Three of the server's intervals as measured: at least 1 s each, more on a busy
        // machine, and the silence the watch worked out.
        const QRegularExpressionMatch silence =
            QRegularExpression("^Error: 5 Description: No sign of the server for (\\d+) s\\.$")
                .match(logMessages().value(2));
        QVERIFY2(silence.hasMatch(), qPrintable(logMessages().value(2)));
        const int seconds = silence.captured(1).toInt();
        QVERIFY2(seconds >= 3 && seconds <= 9, qPrintable(silence.captured(0)));
        QCOMPARE(seconds, (main->keeper().deadPeerWatch().silenceMilliseconds() + 500) / 1000);
        // The retry gets no further than the proxy: no greeting, given up after its time.
        QVERIFY(logged("Reconnecting in [23] s \\(attempt 2 of 5\\)\\."));
        QCOMPARE(logMessages()[1], QString("Reconnecting failed (attempt 1 of 5): No answer from "
                                           "the server within 2 s."));
        proxy.setMode(testsupport::FaultProxy::Mode::PassThrough);
        QVERIFY(backAgain());

        proxy.setMode(testsupport::FaultProxy::Mode::Reset);
        QVERIFY(logged("Reconnecting in [12] s \\(attempt 1 of 5\\)\\."));
        QVERIFY(logMessages().contains(
            "Error: 1 Description: The connection was reset by the server."));
        proxy.setMode(testsupport::FaultProxy::Mode::PassThrough);
        QVERIFY(backAgain());
        QCOMPARE(testsupport::boxes().size(), 0);
        DeadPeerWatch::setMinimumSilence(DeadPeerWatch::DefaultMinimumSilenceMs);
    }

    // Disconnect during the back-off; then a wrong password (retried once, in case the
    // server was only going down); then Reconnect unticked: nothing more is retried.
    void leftDisconnected()
    {
        QVERIFY(connectClient());
        m_server->stop();
        QVERIFY(logged("Reconnecting in .*"));
        frmMain()->cmdConnect_Click(1);
        QCOMPARE(logMessages().first(), QString("Reconnecting cancelled."));
        QVERIFY(m_server->start({"--password", Password}));
        QTest::qWait(2500);
        QVERIFY(!frmMain()->sckConnect().isConnected());

        ConnectionKeeper::times() = {};
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"),
                                  QStringLiteral("wrong password"));
        QVERIFY(testsupport::connectMainWindowTo(m_server->port()));
        QVERIFY(logged("The server closed the connection: check the password in Settings\\."));
        QCOMPARE(frmMain()->statusPanel[1]->text(), QString("Check the password"));

        ConnectionKeeper::times() = {RefusalMs, RefusalMs};
        testsupport::storeSetting(QStringLiteral("ClientReconnect"), QStringLiteral("False"));
        QVERIFY(connectClient());
        m_server->stop();
        QVERIFY(logged("Disconnected\\."));
        QVERIFY(m_server->start({"--password", Password}));
        QTest::qWait(2500);
        QVERIFY(!frmMain()->sckConnect().isConnected());
        QCOMPARE(logMessages().filter("Reconnecting in").size(), 2); // the first two cases
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
