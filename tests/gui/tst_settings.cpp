// The settings dialog, start-up, the About window, captions, and the tray control.

#include "contacts/frmcontacts.h"
#include "session/site.h"
#include "settings/frmsettings.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"
#include "tray/tray.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using testsupport::boxes;

namespace {

// What the store file holds, "key=value" in key order, read past the program's reader.
QString stored()
{
    QSettings file(SettingsStore::location(), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Settings"));
    QStringList pairs;
    for (const QString& key : file.childKeys())
        pairs << key + QLatin1Char('=') + file.value(key).toString();
    return pairs.join(QLatin1Char('|'));
}

void store(const QStringList& pairs)
{
    for (const QString& pair : pairs)
        testsupport::storeSetting(pair.section('=', 0, 0), pair.section('=', 1));
}

FrmSettings* openDialog()
{
    frmMain()->ToolsSettings->trigger();
    return frmSettings();
}

// The store's file as the user left it after editing it by hand.
bool writeByHand(const QByteArray& bytes)
{
    QFile file(SettingsStore::location());
    return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

QByteArray fileBytes()
{
    QFile file(SettingsStore::location());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    QUrl m_opened;

public slots:
    void openUrl(const QUrl& url) { m_opened = url; }

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void okWritesTheNineKeysCancelNothing()
    {
        store({"ClientServerIP=calls.example.org", "ClientPort=7001", "ClientAutoStart=True",
               "ClientPopUpClose=True", "ClientPopUpCloseTime=12", "ClientReconnect=true"});
        const QString before = stored();
        openDialog()->txtDebug[0]->setText(QStringLiteral("8000"));
        QTest::mouseClick(frmSettings()->cmdButton[0], Qt::LeftButton);
        openDialog()->close(); // the title bar's close
        QCOMPARE(stored(), before);

        // Ticks enable their rows; 8 characters (not bytes) of password are refused.
        FrmSettings* d = openDialog();
        QTest::mouseClick(d->chkDebug[1], Qt::LeftButton);
        QTest::mouseClick(d->chkDebug[3], Qt::LeftButton);
        QVERIFY(!d->txtDebug[2]->isEnabled() && d->txtDebug[4]->isEnabled());
        d->txtDebug[3]->setText(QStringLiteral("äöüßéèêë"));
        QTest::mouseClick(d->cmdButton[1], Qt::LeftButton);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().prompt,
                 QStringLiteral("Your password must be more than 8 characters long."));
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), d);
        QCOMPARE(stored(), before);
        d->txtDebug[3]->setText(QStringLiteral("p,a=s;[x]"));
        QTest::mouseClick(d->cmdButton[1], Qt::LeftButton);
        // Flags were on only as exactly "True"; missing values took their defaults.
        QCOMPARE(stored(), QString("ClientAutoStart=True|ClientMinimized=False|"
                                   "ClientPopUpClose=False|ClientPopUpCloseTime=12|"
                                   "ClientPort=7001|ClientReconnect=True|"
                                   "ClientReconnectAttemps=5|ClientServerIP=calls.example.org|"
                                   "ClientServerPassword=p,a=s;[x]"));
        // An empty password means none.
        d = openDialog();
        d->txtDebug[3]->clear();
        QTest::mouseClick(d->cmdButton[1], Qt::LeftButton);
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString());

        // A folder where the store's file belongs: not even the superuser can write it.
        QVERIFY(QFile::remove(SettingsStore::location()));
        QVERIFY(QDir().mkpath(SettingsStore::location()));
        d = openDialog();
        d->txtDebug[3]->setText("unsaved-password");
        QTest::mouseClick(d->cmdButton[1], Qt::LeftButton);
        QCOMPARE(boxes().size(), 2);
        QCOMPARE(boxes().last().prompt, QStringLiteral("The changes could not be saved."));
        // What was not saved is not used either.
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString());
    }

    // The file as the user wrote it: values read as typed, other lines kept, and a file
    // made read-only refused (the superuser too) rather than made writable.
    void handEditedFile()
    {
        const QByteArray mine("# my server\n[Settings]\nClientServerPassword=abc;def\n"
                              "not a setting\n[Other]\nkept=1\n");
        QVERIFY(writeByHand(mine));
        FrmSettings* d = openDialog();
        QCOMPARE(d->txtDebug[3]->text(), QString("abc;def"));
        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        server.send("Welcome [0.92]");
        QVERIFY(server.waitForReceived(7));
        QCOMPARE(server.received(), QByteArray("abc;def"));

        d->txtDebug[3]->setText(QStringLiteral("abc;def;ghi"));
        QTest::mouseClick(d->cmdButton[1], Qt::LeftButton);
        QVERIFY(boxes().isEmpty());
        // New keys go after the section's last one; every line of the user's stays.
        const QByteArray saved("# my server\n[Settings]\nClientServerPassword=\"abc;def;ghi\"\n"
                               "ClientServerIP=127.0.0.1\nClientPort=6996\nClientAutoStart=False\n"
                               "ClientPopUpClose=False\nClientPopUpCloseTime=30\n"
                               "ClientReconnect=False\nClientReconnectAttemps=5\n"
                               "ClientMinimized=False\nnot a setting\n[Other]\nkept=1\n");
        QCOMPARE(fileBytes(), saved);
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString("abc;def;ghi"));

        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(SettingsStore::location(), readOnly));
        d = openDialog();
        d->txtDebug[1]->setText(QStringLiteral("elsewhere.example.org"));
        QTest::mouseClick(d->cmdButton[1], Qt::LeftButton);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().prompt, QStringLiteral("The changes could not be saved."));
        QCOMPARE(boxes().first().style, 48);
        QCOMPARE(boxes().first().title, QStringLiteral("Settings"));
        QCOMPARE(fileBytes(), saved);
        QCOMPARE(QFile::permissions(SettingsStore::location()) &
                     ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 readOnly);
    }

    // Auto-connect and start-minimised with no system tray: minimised instead, connecting.
    void startUpConnectsThenMinimises()
    {
        testsupport::LoopbackServer server;
        store({"ClientPort=" + server.portText(), "ClientAutoStart=True", "ClientMinimized=True"});
        FrmMain* main = frmMain();
        QStringList messages;
        for (const QString& line : main->logLines())
            messages << line.mid(6); // after the time stamp
        QCOMPARE(messages, (QStringList{"No system tray: minimized instead.", "Minimize to tray.",
                                        "Connecting.", "Applicationen started."}));
        QVERIFY(main->windowState() & Qt::WindowMinimized);
        QVERIFY(QTest::qWaitFor([main] { return main->sckConnect().isConnected(); }));
    }

    void aboutAndCaptions()
    {
        frmMain()->setWindowTitle(QStringLiteral("Quillora Client 0.9 renamed"));
        frmMain()->HelpAbout->trigger();
        FrmAbout* about = forms::loadedOrNull<FrmAbout>();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->lblTitle->text(), frmMain()->windowTitle());
        QVERIFY(about->lblInfo->text().endsWith("Please visit " + site::Host + "/Quillora"));

        // The homepage goes to the desktop's browser; Help itself stays disabled.
        QDesktopServices::setUrlHandler("https", this, "openUrl");
        frmMain()->HelpHomepage->trigger();
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(m_opened, QUrl(site::homepage()));
        QVERIFY(!frmMain()->HelpQuilloraHelp->isEnabled());

        // No window clips its captions.
        for (QWidget* window :
             QList<QWidget*>{frmMain(), frmSettings(), about, frmStatistics(), frmContacts()}) {
            window->show();
            for (const QWidget* c : window->findChildren<QWidget*>()) {
                if ((qobject_cast<const QLabel*>(c) || qobject_cast<const QAbstractButton*>(c)) &&
                    c->isVisible())
                    QVERIFY2(c->width() >= c->minimumSizeHint().width(),
                             qPrintable(c->objectName()));
            }
        }
    }

    void trayToolTipClickGateAndEventMode()
    {
        Tray tray;
        const auto press = [&tray](QSystemTrayIcon::ActivationReason reason) {
            emit tray.trayIcon()->activated(reason);
        };
        const auto quiet = [&tray] {
            return QTest::qWaitFor([&tray] { return !tray.clickBusy(); });
        };
        // The tray shows " " + tip + " " within its 64-character field.
        const QString b(62, QLatin1Char('b')), c(100, QLatin1Char('c'));
        for (const auto& [tip, shown] :
             {std::pair{QString(), QString()}, {b, " " + b + " "}, {c, " " + c.left(63)}}) {
            tray.setTrayToolTip(tip);
            tray.Show(true);
            QCOMPARE(tray.trayIcon()->toolTip(), shown);
        }

        QSignalSpy clicks(&tray, &Tray::MouseClick);
        press(QSystemTrayIcon::Trigger);
        press(QSystemTrayIcon::Context); // inside the quiet period: dropped
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.takeFirst().at(0).toInt(), 1);

        // Presses while the owner's handler runs (a message box, say) are dropped too.
        QVERIFY(quiet());
        connect(&tray, &Tray::MouseClick, this, [&] {
            QTest::qWait(3 * Tray::QuietMilliseconds);
            press(QSystemTrayIcon::Trigger);
        });
        press(QSystemTrayIcon::Trigger);
        QCOMPARE(clicks.size(), 1);
        QVERIFY(tray.clickBusy());

        // The event mode is clamped to 0..1.
        for (auto [value, mode] : {std::pair{5, 1}, {-3, 0}, {1, 1}}) {
            tray.setEventMode(value);
            QCOMPARE(tray.EventMode(), mode);
        }

        // Saved properties: defaults are left out and come back for missing entries.
        Tray fresh, copy;
        QCOMPARE(fresh.TrayToolTip(), Tray::DefaultToolTip);
        QVERIFY(fresh.WriteProperties().isEmpty());
        fresh.ReadProperties({{Tray::TrayToolTipProperty, "tip"}, {Tray::EventModeProperty, 7}});
        copy.ReadProperties(fresh.WriteProperties());
        QCOMPARE(copy.TrayToolTip() + QString::number(copy.EventMode()), QString("tip1"));
        // A picture that is not an icon becomes a 32 x 32 icon.
        copy.setTrayImage(QPixmap(200, 100));
        QCOMPARE(copy.TrayImage().availableSizes(), QList<QSize>{QSize(32, 32)});
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
