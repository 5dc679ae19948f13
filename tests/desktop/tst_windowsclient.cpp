// The Windows client, installed by its installer under Wine on the X desktop and run against the
// real server: its settings from the registry, a call's pop-up at the top right of the work area
// and on top, the settings dialog writing the registry, the uninstaller keeping the settings.
// Skipped until scripts/build-windows has made the installer.

#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

using testsupport::runTool;
using testsupport::toolNumbers;
using testsupport::visibleWindow;

namespace {

const QString SettingsKey =
    QStringLiteral("HKCU\\Software\\VB and VBA Program Settings\\Quillora\\Settings");
const QString RunKey = QStringLiteral("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

// Runs a Windows program (or Wine's own, such as reg) in the test's Wine prefix; its output.
QString wine(const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(QUILLORA_WITH_WINE), arguments);
    process.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(process.readAll());
}

} // namespace

class TestWindowsClient : public QObject {
    Q_OBJECT
    QTemporaryDir prefix;
    QString setup = qEnvironmentVariable("QUILLORA_WINDOWS_SETUP");
    QProcess client, topPanel;

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(setup))
            QSKIP("no Windows installer: scripts/build-windows makes it");
        qputenv("QUILLORA_WINEPREFIX", prefix.filePath("wine").toUtf8());
        qunsetenv("QT_QPA_PLATFORM"); // this test's own platform, not the Windows programs'
    }
    void cleanupTestCase()
    {
        wine({"--end"}); // and with Wine the client
        topPanel.kill();
        topPanel.waitForFinished();
    }

    void installedRunsAndUninstalls()
    {
        // A panel along the top edge: the work area starts below it.
        topPanel.startCommand(qEnvironmentVariable("WITH_DESKTOP_TRAYER")
                                  .replace("--edge bottom", "--edge top --SetPartialStrut true"));
        QVERIFY(QTest::qWaitFor(
            [] {
                return !runTool("xprop", {"-root", "_NET_WORKAREA"}).contains("= 0, 0,");
            },
            20000));
        const QList<int> work =
            toolNumbers("= (\\d+), (\\d+), (\\d+), (\\d+)", "xprop", {"-root", "_NET_WORKAREA"});

        wine({setup, "/S"});
        const QString installed =
            wine({"cmd", "/c", "echo %LOCALAPPDATA%"}).trimmed() + "\\Programs\\Quillora Client";
        const QString folder = wine({"winepath", "-u", installed}).trimmed();
        QVERIFY(wine({"reg", "query",
                      "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion"
                      "\\Uninstall\\QuilloraClient"})
                    .contains("0.9"));

        testsupport::RealServer server(QUILLORA_SERVER_BIN);
        QVERIFY(server.start({"--password", "open-sesame", "--demo"}));
        const QByteArray port = QByteArray::number(server.port());
        for (const auto& [key, value] : {std::pair("ClientServerIP", "127.0.0.1"),
                                         {"ClientPort", port.constData()},
                                         {"ClientServerPassword", "open-sesame"},
                                         {"ClientAutoStart", "True"},
                                         {"ClientPopUpClose", "True"},
                                         {"ClientPopUpCloseTime", "2"}})
            wine({"reg", "add", SettingsKey, "/v", key, "/d", value, "/f"});
        client.start(QUILLORA_WITH_WINE, QStringList{installed + "\\quillora-client.exe"});
        QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(" authenticated."), 30000);

        QCOMPARE(server.ring("555-0142"), 0);
        QString popUp;
        QTRY_VERIFY_WITH_TIMEOUT(!(popUp = visibleWindow("^Incoming call$")).isEmpty(), 20000);
        const QList<int> at = testsupport::xGeometry({"-id", popUp});
        QCOMPARE(at.mid(0, 2), QList<int>({work[0] + work[2] - 20 - at.value(2), work[1] + 16}));
        // An ordinary red window raised and activated over it: the screen still shows the pop-up.
        QWidget cover;
        cover.setStyleSheet("background: red");
        cover.setGeometry(at[0] - 100, work[1], 400, 300);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        const QString coverId = QString::number(cover.winId());
        runTool("xdotool", {"windowraise", coverId, "windowactivate", "--sync", coverId});
        const QString shot = prefix.filePath("screen.png");
        const auto red = [&](int x, int y) {
            runTool("import", {"-window", "root", shot});
            return QImage(shot).pixel(x, y) == qRgb(255, 0, 0);
        };
        QTRY_VERIFY(red(at[0] - 50, work[1] + 100));
        QVERIFY(!red(at[0] + 50, at[1] + 100));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindow("^Incoming call$").isEmpty(), 10000);

        // Start at login ticked in the settings dialog (keys only: Ctrl+S, then ten fields on).
        const QString main = visibleWindow("^Quillora Client [0-9.]+$");
        runTool("xdotool", {"windowactivate", "--sync", main, "key", "--clearmodifiers", "ctrl+s"});
        QString dialog;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(dialog = visibleWindow("^Quillora Client \\[Settings\\]$")).isEmpty(), 10000);
        runTool("xdotool", QStringList{"windowactivate", "--sync", dialog, "key", "--delay", "50"} +
                               QStringList(10, "Tab") +
                               QStringList{"space", "Tab", "Tab", "space"});
        QTRY_VERIFY_WITH_TIMEOUT(wine({"reg", "query", RunKey, "/v", "Quillora Client"})
                                     .contains('"' + installed + "\\quillora-client.exe\""),
                                 10000);
        QVERIFY(wine({"reg", "query", SettingsKey, "/v", "ClientStartAtLogin"}).contains("True"));

        // Uninstalled: the program's files and its Run entry go, the settings stay.
        client.kill();
        wine({"--end"});
        wine({installed + "\\Uninstall.exe", "/S"});
        // The uninstaller runs on from a copy of itself: waited for until Wine has gone.
        wine({"--wait"});
        QVERIFY(!QFileInfo::exists(folder) || QDir(folder).isEmpty());
        QVERIFY(wine({"reg", "query", SettingsKey}).contains("ClientPort"));
        QVERIFY(!wine({"reg", "query", RunKey}).contains("Quillora Client"));
    }
};

QTEST_MAIN(TestWindowsClient)
#include "tst_windowsclient.moc"
