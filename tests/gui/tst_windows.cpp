// The windows against a loopback server (real server: e2e/tst_clientserver): greetings,
// statistics replies and time-outs, contacts saves through outages, settings, ring, pop-up.

#include "contacts/frmcontacts.h"
#include "faultproxy.h"
#include "popup/frmquillora.h"
#include "session/dispatcher.h"
#include "session/keepalive.h"
#include "session/modvariables.h"
#include "settings/autostart.h"
#include "settings/frmsettings.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

using testsupport::boxes;
using testsupport::logMessages;
using W = FrmContacts;

namespace {

enum Mode { LastCalls, UnrecognisedCalls, TopCallers, ContactList };

const QByteArray TwoCalls = "STATS:LAST#00Ann,12:01,5551234,Bob,12:05,5559876";
const QByteArray Record = "CNTAC:SEAR;Ann Lee,111,222,ann@example.org,333,444,31,7,12,31";

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    std::unique_ptr<testsupport::LoopbackServer> server;

    static FrmQuillora* popUp() { return forms::loadedOrNull<FrmQuillora>(); }
    static W* loaded() { return forms::loadedOrNull<W>(); }
    static void press(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // The grid's first rows below the header, cells joined by "|".
    static QString shown(const FrmStatistics* w)
    {
        return testsupport::gridRows(w->MSFlexGrid1->grid()).mid(0, 2).join('/');
    }
    static bool locked(const FrmStatistics* w)
    {
        return !w->cmdQuery->isEnabled() && !w->cmbRecords->isEnabled() &&
               w->cmdButton->isEnabled();
    }

    // Sends a reply and waits until the window has applied it.
    bool applied(const QByteArray& reply)
    {
        loaded()->lblInput[1]->setText(QStringLiteral("(waiting)"));
        server->send(reply);
        return QTest::qWaitFor(
            [] { return loaded() && loaded()->lblInput[1]->text() != "(waiting)"; });
    }

    // Waits for exactly these bytes at the server, then forgets them.
    bool expectRequest(const QByteArray& request)
    {
        const bool arrived =
            server->waitForReceived(request.size()) && server->received() == request;
        server->clearReceived();
        return arrived;
    }

    FrmMain* connectedMain()
    {
        server = std::make_unique<testsupport::LoopbackServer>();
        return testsupport::connectMainWindow(*server) ? frmMain() : nullptr;
    }

    // Queries and checks the exact request sent; `manual`: the test drives the ticks.
    bool query(FrmStatistics* w, int mode, const QString& count, const QByteArray& expected,
               bool manual = false)
    {
        server->clearReceived();
        w->optStatMode[mode]->setChecked(true);
        w->cmbRecords->setEditText(count);
        press(w->cmdQuery);
        if (manual)
            w->timerStats->stop();
        return expectRequest(expected) && locked(w);
    }

    // Sends a reply and waits until it is in the mailbox.
    bool deliver(const QByteArray& reply)
    {
        server->send(reply);
        return QTest::qWaitFor(
            [&] { return modVariables().StatsReply == QString::fromLatin1(reply); });
    }

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup()
    {
        env.reset();
        server.reset();
        keepalive::times() = {};
    }

    // Accepted: the password alone, a second greeting (even a refused one) ignored, probes
    // answered silently in their own bytes, a 2 MB call logged in part. Refused: a box only.
    void greetings_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("greeting");
        QTest::addColumn<QString>("usingLine"); // empty: accepted
        for (const auto& [name, password, greeting, usingLine] :
             {std::tuple{"0.92", "s3cret pass", "Welcome to Quillora Server [0.92]", ""},
              {"CR LF, no password", "", "Welcome [0.92]\r\n", ""},
              {"0.100 is below as text", "pw", "Welcome [0.100]", "You are currently using 0.100"},
              {"no bracket", "pw", "Welcome to Quillora Server",
               "You are currently using a older version that is not compatible."}})
            QTest::newRow(name) << QString(password) << QString(greeting) << QString(usingLine);
    }
    void greetings()
    {
        QFETCH(QString, password);
        QFETCH(QString, greeting);
        QFETCH(QString, usingLine);
        testsupport::storeSetting(SettingsStore::ClientServerPassword, password);
        FrmMain* main = connectedMain();
        QVERIFY(main);
        server->send(greeting.toUtf8());
        QTRY_VERIFY(logMessages().first().startsWith(greeting.trimmed()));
        if (!usingLine.isEmpty()) {
            QTRY_COMPARE(boxes().size(), 1);
            QCOMPARE(boxes().first().prompt.split("\r\n").value(2), usingLine);
            QVERIFY(server->waitForDisconnect() && server->received().isEmpty());
            return;
        }
        const int lines = main->logLines().size();
        QSignalSpy read(&main->sckConnect(), &Session::dataArrived);
        for (const QByteArray& message :
             QList<QByteArray>{greeting.toUtf8(), "Welcome [0.10]", "ping_:1", "PING_",
                               "PING_:", "PING_:\xff\xfe\x80"}) {
            server->send(message); // each its own read
            QVERIFY(read.wait());
        }
        QVERIFY(expectRequest(password.toUtf8() + "PONG_:PONG_:\xff\xfe\x80"));
        QVERIFY(main->logLines().size() == lines && boxes().isEmpty());
        server->send("CALL_:" + QByteArray(2 * 1024 * 1024, 'y'));
        QTRY_VERIFY(logMessages().first().contains(
            QRegularExpression("^.{1,5000} … \\(\\d+ characters\\)$"))); // a part only
    }

    // A reply short of its stated fields waits past the quiet time, dropped if the server
    // closes first; one that has begun them all waits as long as its own gaps, not the link's
    // quiet time. Cut by a failing connection, it is dropped, not handed on under its box.
    void replyHeldByItsStatedSize()
    {
        keepalive::times().userTimeoutMs = 300; // back to the default in cleanup()
        server = std::make_unique<testsupport::LoopbackServer>();
        testsupport::FaultProxy proxy(server->port(), 64 * 1024);
        QVERIFY(testsupport::connectMainWindowTo(proxy.port()) && server->waitForClient());
        Session& session = frmMain()->sckConnect();
        session.setQuietInterval(200);
        server->send("STATS:LAST;2#03Ann,14:03,555-1,");
        QTest::qWait(400); // past one quiet time
        server->send("Bob,14:05,555-");
        QTest::qWait(100);
        server->send("2");
        QTRY_COMPARE(modVariables().StatsReply,
                     QString("STATS:LAST;2#03Ann,14:03,555-1,Bob,14:05,555-2"));
        // Complete in one read, it is not held for the link's long quiet time.
        modVariables().StatsReply.clear();
        session.setQuietInterval(60000);
        server->send("STATS:LAST;1#03Cy,14:07,555-3");
        QTRY_COMPARE(modVariables().StatsReply, QString("STATS:LAST;1#03Cy,14:07,555-3"));
        modVariables().StatsReply.clear();
        server->send("STATS:LAST;2#03Dee,14:09,555-4,");
        QTRY_VERIFY(session.heldStatsBytes() > 0);
        server->closeClient();
        QTRY_COMPARE(logMessages().first(), QString("Disconnected."));
        QCOMPARE(modVariables().StatsReply, QString());

        if (testsupport::underWine())
            QSKIP("Wine sets no TCP_MAXRT: data sent into the void is not given up in time");
        QVERIFY(testsupport::connectMainWindowTo(proxy.port()) && server->waitForClient());
        session.setQuietInterval(1000); // held 3 s: past the error, into its box
        testsupport::RealModalBoxes boxes(4000);
        server->send("STATS:LAST;2#03Ann,14:03,555-1,");
        QTRY_VERIFY(session.heldStatsBytes() > 0);
        proxy.setMode(testsupport::FaultProxy::Mode::BlackHole);
        QVERIFY(session.send(QString(1 << 20, QLatin1Char('x'))));
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::boxes().size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::RealModalBoxes::open(), 0, 10000);
        QCOMPARE(modVariables().StatsReply, QString());
    }

    // Two replies on the last tick: the second shows, no time-out. The 501st tick without one
    // unlocks with a box; a late reply waits in the mailbox, the next query drops it. Close
    // empties the mailbox, keeps no later reply. Only ticks in which nothing of the reply
    // arrived count: a slow link that keeps delivering is not timed out, a stalled one is.
    // A connection lost mid-query closes the window.
    void pollerTimeOutLateRepliesAndClose()
    {
        QVERIFY(connectedMain());
        frmMain()->StatisticsStatistics->trigger();
        FrmStatistics* w = frmStatistics();
        const auto tick = [&w](int n = 1) { // the poller's, driven by the test
            while (n-- > 0)
                w->timerStats_Timer();
        };
        QVERIFY(query(w, UnrecognisedCalls, "1", "STATS:UNKN;1", true));
        tick(FrmStatistics::TimeoutTicks);
        QVERIFY(deliver("STATS:UNKN#00first,1,2") && deliver(TwoCalls));
        tick();
        QCOMPARE(shown(w), QString("Ann|12:01|5551234/Bob|12:05|5559876"));
        QVERIFY(!locked(w) && modVariables().StatsReply.isEmpty());

        QVERIFY(query(w, TopCallers, "10", "STATS:TOPS;10", true));
        tick(FrmStatistics::TimeoutTicks);
        QVERIFY(locked(w));
        tick();
        QVERIFY(!locked(w));
        modVariables().StatsReply = QStringLiteral("arrived while the box is up");
        QTRY_VERIFY(boxes().size() == 1 && boxes()[0].prompt.startsWith("The query timed out."));
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(shown(w), QString("Ann|12:01|5551234/Bob|12:05|5559876"));

        QVERIFY(deliver("STATS:LAST#00late,1,2") && !w->timerStats->isActive());
        QVERIFY(query(w, LastCalls, "10", "STATS:LAST;10") && modVariables().StatsReply.isEmpty());
        server->send("STATS:LAST#00fresh,3,4");
        QTRY_VERIFY(!locked(w));
        QCOMPARE(shown(w), QString("fresh|3|4/||"));

        QVERIFY(query(w, LastCalls, "10", "STATS:LAST;10", true) && deliver(TwoCalls));
        press(w->cmdButton);
        QVERIFY(!forms::loadedOrNull<FrmStatistics>() && modVariables().StatsReply.isEmpty());
        frmMain()->StatisticsStatistics->trigger();
        QVERIFY(query(w = frmStatistics(), LastCalls, "10", "STATS:LAST;10"));
        press(w->cmdButton);
        QSignalSpy read(&frmMain()->sckConnect(), &Session::messageReceived);
        server->send(TwoCalls);
        QVERIFY(read.wait() && modVariables().StatsReply.isEmpty());

        frmMain()->StatisticsStatistics->trigger();
        const QPointer<FrmStatistics> gone(w = frmStatistics());
        frmMain()->sckConnect().setQuietInterval(60000); // held until it is complete
        QVERIFY(query(w, ContactList, "10", "STATS:CNTS;00", true));
        tick(FrmStatistics::TimeoutTicks);
        server->send("STATS:CNTS;2#01");
        QTRY_VERIFY(frmMain()->sckConnect().heldStatsBytes() > 0);
        tick(FrmStatistics::TimeoutTicks); // the 501st tick among them: no time-out
        server->send("7,");
        QTRY_VERIFY(frmMain()->sckConnect().heldStatsBytes() > 15);
        tick(FrmStatistics::TimeoutTicks + 1);
        QVERIFY(locked(w) && boxes().size() == 1);
        tick(); // 501 ticks since the last part came
        QTRY_VERIFY(!locked(w) && boxes().value(1).prompt.startsWith("The query timed out."));
        QVERIFY(query(w, LastCalls, "10", "STATS:LAST;10"));
        server->closeClient();
        QTRY_VERIFY(gone.isNull() && boxes().size() == 3);
        QCOMPARE(boxes().at(2).prompt + "|" + boxes().at(2).title,
                 QString("You are currently not connected.|Statistics."));
    }

    // A save reply that names a new record's ID: the next save updates that record. Another
    // wording, or a reply after New contact was pressed again, leaves the ID. Editing, a lost
    // connection keeps the window and what was typed; Save waits until logged in again.
    // Browsing, or loaded while disconnected, the window closes.
    void savesThroughRepliesAndOutages()
    {
        QVERIFY(connectedMain());
        frmMain()->ToolAddEditContacts->trigger();
        W* w = loaded();
        press(w->cmdSearch);
        QVERIFY(expectRequest("CNTAC:SEAR;ALLF;"));
        const auto saveNew = [this, w](const QString& name) {
            press(w->cmdContact[W::NewContact]);
            w->txtInput[0]->setText(name);
            press(w->cmdContact[W::Save]);
            return expectRequest("CNTAC:SAVE;NEW," + name.toUtf8() + ",,,,,");
        };
        QVERIFY(saveNew("Ann") && applied("CNTAC:SAVE;New record saved with ID 57."));
        press(w->cmdContact[W::Edit]);
        press(w->cmdContact[W::Save]);
        QVERIFY(expectRequest("CNTAC:SAVE;57,Ann,,,,,"));
        QVERIFY(applied("CNTAC:SAVE;New record saved with ID 58."));
        QCOMPARE(w->lblInput[0]->text(), QStringLiteral("57")); // an update's reply: not ours
        for (const QByteArray reply :
             {"CNTAC:SAVE;Saved as record 59.", "CNTAC:SAVE;New record saved with ID 5x.",
              "CNTAC:ERRO;Not saved."})
            QVERIFY(saveNew("Bob") && applied(reply) && w->lblInput[0]->text().isEmpty());
        QVERIFY(saveNew("Cy"));
        press(w->cmdContact[W::NewContact]);
        QVERIFY(applied("CNTAC:SAVE;New record saved with ID 60."));
        QCOMPARE(w->lblInput[0]->text(), QString());
        // A comma would shift the fields: refused, still editing, nothing typed lost.
        w->txtInput[0]->setText(QStringLiteral("Lee, Ann"));
        press(w->cmdContact[W::Save]);
        QVERIFY(w->cmdContact[W::Save]->isEnabled() && boxes().isEmpty());
        QCOMPARE(w->txtInput[0]->text(), QStringLiteral("Lee, Ann"));
        press(w->cmdContact[W::Cancel]);
        QVERIFY(applied(Record));
        press(w->cmdContact[W::Edit]);
        w->txtInput[0]->setText(QStringLiteral("Typed"));
        server->closeClient();
        QTRY_COMPARE(boxes().size(), 1);
        press(w->cmdContact[W::Save]);
        QVERIFY(loaded() == w && w->cmdContact[W::Save]->isEnabled() && boxes().size() == 2);
        QCOMPARE(w->lblInput[1]->text(),
                 QStringLiteral("Record not saved. You are currently not connected."));
        QVERIFY(testsupport::connectMainWindow(*server));
        press(w->cmdContact[W::Save]); // not logged in yet: it would be taken for the password
        QCOMPARE(boxes().size(), 3);
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), QStringLiteral("pw"));
        server->send("Welcome [0.92]");
        QVERIFY(expectRequest("pw"));
        press(w->cmdContact[W::Save]);
        QVERIFY(expectRequest("CNTAC:SAVE;31,Typed,111,222,ann@example.org,333,444"));
        press(w->cmdContact[W::Edit]);
        server->closeClient();
        QVERIFY(QTest::qWaitFor([] { return boxes().size() == 4; }));
        press(w->cmdContact[W::Cancel]);
        QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
        frmContacts();
        QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
        QTRY_COMPARE(boxes().size(), 6);
        for (const MsgBoxCall& box : boxes())
            QCOMPARE(box.prompt + "|" + box.title,
                     QStringLiteral("You are currently not connected.|Add/Edit contacts."));
    }

    // Cancel keeps nothing; 8 characters of password (16 bytes) are refused; OK saves, and
    // what could not be saved is not used either; the client may end under that box. The
    // login entry is the package's launcher with the autostart key under $XDG_CONFIG_HOME, on
    // Windows the program's quoted path in the Run key; it follows the box at OK, and the
    // store edited by hand at the next start.
    void settingsDialog()
    {
#ifdef Q_OS_WIN
        const auto entry = [] {
            return QSettings(autostart::entryPath(), QSettings::NativeFormat)
                .value("Quillora Client")
                .toByteArray();
        };
        const QByteArray expected =
            '"' + QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toUtf8() + '"';
#else
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        const auto entry = [&config] {
            QFile file(config.filePath("autostart/quillora-client.desktop"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QFile launcher(QFINDTESTDATA("../../packaging/quillora-client.desktop"));
        QVERIFY(launcher.open(QIODevice::ReadOnly));
        const QByteArray expected = launcher.readAll().replace(
            "[Desktop Entry]\n", "[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n");
#endif
        const auto openDialog = [] {
            frmMain()->ToolsSettings->trigger();
            return frmSettings();
        };
        testsupport::storeSetting(SettingsStore::ClientTlsPin, QString(64, 'A'));
        FrmSettings* d = openDialog();
        d->txtDebug[3]->setText(QStringLiteral("cancelled-password"));
        press(d->cmdButton[0]);
        QCOMPARE((d = openDialog())->txtDebug[3]->text(), QString());
        d->txtDebug[3]->setText(QStringLiteral("äöüßéèêë"));
        press(d->cmdButton[1]);
        QVERIFY(boxes().size() == 1 && forms::loadedOrNull<FrmSettings>() == d);
        d->txtDebug[3]->setText(QStringLiteral("p,a=s;[x]"));
        d->chkDebug[7]->setChecked(true);
        press(d->cmdButton[1]);
        QCOMPARE(entry(), expected);
        // The trusted key stays through an Ok, and goes when "Use TLS" is turned off and on.
        QCOMPARE(GetSetting(SettingsStore::ClientTlsPin), QString(64, 'A'));
        d = openDialog();
        d->chkDebug[4]->setChecked(true);
        d->chkDebug[4]->setChecked(false);
        press(d->cmdButton[1]);
        QCOMPARE(GetSetting(SettingsStore::ClientTlsPin), QString());
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString("p,a=s;[x]"));
        testsupport::storeSetting(SettingsStore::ClientStartAtLogin, "true"); // on: exactly "True"
        testsupport::unloadAllWindows();
        frmMain();
        QCOMPARE(entry(), QByteArray());
        QVERIFY(testsupport::makeStoreUnwritable());
        const QPointer<FrmSettings> dialog = d = openDialog();
        d->txtDebug[3]->setText("unsaved-password");
        testsupport::RealModalBoxes real(50, [](auto&) { frmMain()->FileExit->trigger(); });
        press(d->cmdButton[1]);
        QTRY_VERIFY(!forms::loadedOrNull<FrmMain>() && dialog.isNull());
        QCOMPARE(boxes().last().prompt, QStringLiteral("The changes could not be saved."));
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString()); // nor used
    }

    // The ring reaches a private sound server: once per call, not over a ring that still
    // plays, not again for the same call, not at all with the setting off.
    void ringSound()
    {
#ifdef Q_OS_WIN
        QSKIP("the ring plays through the Win32 sound API there, not through PulseAudio");
#endif
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
            QSKIP("pulseaudio is not installed");
        QTemporaryDir dir;
        const QString socket = dir.filePath("pulse.sock");
        QProcess daemon, events;
        daemon.setEnvironment(QStringList{"HOME=" + dir.path(), "XDG_RUNTIME_DIR=" + dir.path()} +
                              QProcess::systemEnvironment()); // the first of a name counts
        daemon.start("pulseaudio",
                     {"-n", "--use-pid-file=no", "-L", "module-null-sink", "-L",
                      "module-native-protocol-unix auth-anonymous=1 socket=" + socket});
        QTRY_VERIFY(QFile::exists(socket));
        qputenv("PULSE_SERVER", "unix:" + socket.toUtf8()); // read at the first ring
        events.start("pactl", {"subscribe"});
        // Rings begun/ended, once a client of our own has come and gone (by then all that
        // was done before is reported); empty if it was not seen.
        auto rings = [&, seen = QByteArray()]() mutable {
            const auto count = [&](const char* event) {
                return QByteArray::number((seen += events.readAllStandardOutput()).count(event));
            };
            const QByteArray gone = count("'remove' on client");
            QProcess::execute("pactl", {"set-sink-mute", "0", "0"});
            return QTest::qWaitFor([&] { return count("'remove' on client") != gone; }, 1000)
                       ? count("'new' on sink-input") + '/' + count("'remove' on sink-input")
                       : QByteArray();
        };
        QTRY_COMPARE(rings(), "0/0");
        frmMain();
        sckConnect_DataArrival("CALL_:1,555-01");
        QCOMPARE(rings(), "0/0");
        testsupport::storeSetting(SettingsStore::ClientRingSound, "True");
        sckConnect_DataArrival("CALL_:2,555-02");
        QTRY_COMPARE(rings(), "1/0");
        sckConnect_DataArrival("CALL_:3,555-03"); // while that ring plays
        QCOMPARE(rings(), "1/0");
        QTRY_COMPARE(rings(), "1/1");
        sckConnect_DataArrival("CALL_:2,555-02"); // the same call again
        QCOMPARE(rings(), "1/1");
        events.close();
        daemon.close();
    }

    // The pop-up closes a tick after showing 0; shown again it keeps its countdown; closed
    // by hand, the next one counts in full. The number is copied by the right click's menu
    // and by Ctrl+C, and looked up by the phone field that holds it; the countdown may close
    // the pop-up under its menu.
    void popUpCountdownAndNumber()
    {
        testsupport::storeSetting(SettingsStore::ClientPopUpClose, "True");
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "3");
        const auto tick = [] {
            popUp()->timerPopUp_Timer();
            return popUp() ? popUp()->lblCount->text() : QString("closed");
        };
        frmQuillora()->showPopUp();
        QCOMPARE(QStringList({tick(), tick(), tick()}), (QStringList{"2", "1", "0"}));
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "30");
        frmQuillora()->showPopUp();
        QCOMPARE(tick(), QString("closed"));
        frmQuillora()->showPopUp();
        popUp()->timerPopUp_Timer();
        QTest::mouseClick(popUp()->lblNail, Qt::LeftButton);
        QVERIFY(!popUp());
        frmQuillora()->showPopUp();
        QCOMPARE(popUp()->lblCount->text(), QString("30"));
        QVERIFY(popUp()->timerPopUp->isActive());
        QTest::mouseClick(popUp()->lblNail, Qt::LeftButton);
        testsupport::storeSetting(SettingsStore::ClientPopUpCloseTime, "0.4");
        QVERIFY(connectedMain());
        server->send("CALL_:2026-12-07 10:00:00,555-0102,Ann Lee,555-0101,555-0102");
        QTRY_VERIFY(popUp() && popUp()->lblIncoming[2]->text() != "No data");
        QContextMenuEvent click(QContextMenuEvent::Mouse, {5, 5},
                                popUp()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(popUp(), &click);
        QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        popUp()->timerPopUp_Timer(); // shows 0 from the start: closes it
        QVERIFY(!popUp());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(menu);
        menu->actions().value(0)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("555-0102"));
        menu->actions().value(1)->trigger();
        QVERIFY(expectRequest("CNTAC:SEAR;MOBI;555-0102") && loaded() && loaded()->isVisible());
        menu->close();

        server->send("CALL_:2026-12-07 10:01:00,555-0199,Bob");
        QTRY_VERIFY(popUp() && popUp()->lblNumberCalling->text() == "555-0199");
        popUp()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(popUp()));
        QTest::keyClick(popUp(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("555-0199"));
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
