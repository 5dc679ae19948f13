// The real client in a Wayland session with X at hand (scripts/with-wayland: Weston, Xwayland).
// What is on top is read from Weston's screenshots: the X server's stacking is not what it shows.

#include "testsupport.h"

#include <QDir>
#include <QImage>

using testsupport::runTool;
using testsupport::xGeometry;

namespace {

QImage screenshot()
{
    QTemporaryDir dir;
    runTool("weston-screenshooter", {}, dir.path());
    const QStringList shots = QDir(dir.path()).entryList({"*.png"});
    return QImage(dir.filePath(shots.value(0))).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QProcess client;

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

    // The client in the session, its platform left to it, rung by the server: on X the
    // pop-up is at the top right and stays over a window opened over it later.
    void popUpTopRightAndAboveOnX()
    {
        testsupport::LoopbackServer server;
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
        QString id; // the pop-up's X window
        QTRY_VERIFY_WITH_TIMEOUT(!(id = testsupport::visibleWindow("^Incoming call$")).isEmpty(),
                                 20000);
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
        const QRgb c = shot.pixel(popUp[0] + 2, popUp[1] + 250); // in the pop-up's gradient
        QVERIFY(qRed(c) <= 16 && qGreen(c) >= 144 && qGreen(c) <= 198 && qBlue(c) >= 233);
    }
};

QTEST_MAIN(TestWayland)
#include "tst_wayland.moc"
