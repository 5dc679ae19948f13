// The real client in a Wayland session with X at hand (scripts/with-wayland: Weston and
// Xwayland), its platform left to it. What is on top is read from the compositor's own
// screenshots: the X server's stacking is not what Weston shows.

#include "testsupport.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>

namespace {

QString runTool(const QString& program, const QStringList& arguments, const QString& dir = {})
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QImage screenshot()
{
    QTemporaryDir dir;
    runTool("weston-screenshooter", {}, dir.path());
    const QStringList shots = QDir(dir.path()).entryList({"*.png"});
    return QImage(dir.filePath(shots.value(0))).convertToFormat(QImage::Format_RGB32);
}

bool popUpBlue(QRgb c) // its gradient
{
    return qRed(c) <= 16 && qGreen(c) >= 144 && qGreen(c) <= 198 && qBlue(c) >= 233;
}

// x, y and width of the X window xwininfo is asked about.
QList<int> xGeometry(const QStringList& which)
{
    const auto m = QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)\\s+Absolute upper-left "
                                      "Y:\\s+(-?\\d+).*Width: (\\d+)",
                                      QRegularExpression::DotMatchesEverythingOption)
                       .match(runTool("xwininfo", which));
    return {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
}

QString popUpOnX()
{
    return runTool("xdotool", {"search", "--onlyvisible", "--name", "^Incoming call$"})
        .section('\n', 0, 0);
}

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QProcess client;

    // The client in the session, its platform left to it, rung by the server.
    void startAndRing(testsupport::LoopbackServer& server)
    {
        QDir(home.path()).mkpath("config/Quillora");
        QFile settings(home.filePath("config/Quillora/Quillora.conf"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nClientServerIP=127.0.0.1\nClientAutoStart=True\n"
                       "ClientServerPassword=sesame\nClientPort=" +
                       server.portText().toUtf8() + '\n');
        settings.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.insert("XDG_SESSION_TYPE", "wayland");
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        client.setProcessEnvironment(env);
        client.start(QUILLORA_CLIENT_BIN);
        QVERIFY(server.waitForClient(20000));
        server.send("Welcome to Quillora Server [0.92]");
        QVERIFY(server.waitForReceived(6, 20000)); // the password: greeted
        server.send("CALL_:2026-12-07 10:00:00,555-0100,Ann");
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("WAYLAND_DISPLAY"), "run under scripts/with-wayland");
    }
    void cleanup()
    {
        client.kill();
        client.waitForFinished();
    }

    // On X the pop-up is at the top right and stays over a window opened over it later.
    void popUpTopRightAndAboveOnX()
    {
        testsupport::LoopbackServer server;
        startAndRing(server);
        QString id;
        QVERIFY(QTest::qWaitFor([&id] { return !(id = popUpOnX()).isEmpty(); }, 20000));
        const QList<int> popUp = xGeometry({"-id", id});
        const int screenWidth = xGeometry({"-root"}).value(2);
        QCOMPARE(popUp.mid(0, 2), QList<int>({screenWidth - 20 - popUp.value(2), 16}));

        QWidget cover;
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::red);
        cover.setPalette(palette);
        cover.setAutoFillBackground(true);
        cover.setGeometry(popUp[0] - 100, 0, screenWidth - popUp[0] + 100, 400);
        cover.show();
        cover.activateWindow();
        QImage shot;
        QVERIFY(QTest::qWaitFor(
            [&] { return (shot = screenshot()).pixel(popUp[0] - 50, 300) == qRgb(255, 0, 0); },
            20000));
        QVERIFY(popUpBlue(shot.pixel(popUp[0] + 2, popUp[1] + 250)));
    }
};

QTEST_MAIN(TestWayland)
#include "tst_wayland.moc"
