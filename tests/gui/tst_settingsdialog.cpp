#include "settings/frmsettings.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

using testsupport::boxes;

namespace {

const QStringList NineKeys{
    "ClientServerIP",   "ClientPort",           "ClientServerPassword", "ClientAutoStart",
    "ClientPopUpClose", "ClientPopUpCloseTime", "ClientReconnect",      "ClientReconnectAttemps",
    "ClientMinimized"};

// What the store file holds, key by key, read past the program's own reader.
QMap<QString, QString> storedValues()
{
    QSettings file(SettingsStore::location(), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Settings"));
    QMap<QString, QString> values;
    for (const QString& key : file.childKeys())
        values.insert(key, file.value(key).toString());
    return values;
}

bool storeWritten()
{
    return QFile::exists(SettingsStore::location());
}

void clickOk(FrmSettings* dialog)
{
    QTest::mouseClick(dialog->cmdButton[1], Qt::LeftButton);
}

} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void opensWithDefaultsOnAnEmptyStore()
    {
        FrmSettings* dialog = frmSettings();
        QCOMPARE(dialog->windowTitle(), QString("Quillora Client [Settings]"));
        QVERIFY(!dialog->windowIcon().isNull());
        QCOMPARE(dialog->txtDebug[1]->text(), QString("127.0.0.1"));
        QCOMPARE(dialog->txtDebug[0]->text(), QString("6996"));
        QCOMPARE(dialog->txtDebug[3]->text(), QString());
        QCOMPARE(dialog->txtDebug[2]->text(), QString("30"));
        QCOMPARE(dialog->txtDebug[4]->text(), QString("5"));
        for (QCheckBox* box : dialog->chkDebug) {
            QVERIFY(!box->isChecked());
            QVERIFY(box->text().isEmpty());
        }
        QVERIFY(!dialog->txtDebug[2]->isEnabled());
        QVERIFY(!dialog->txtDebug[4]->isEnabled());
        QVERIFY(dialog->txtDebug[0]->isEnabled() && dialog->txtDebug[1]->isEnabled() &&
                dialog->txtDebug[3]->isEnabled());
        // Showing defaults writes nothing.
        QVERIFY(!storeWritten());

        const QStringList captions{"Enter default port:",
                                   "Auto connect at startup:",
                                   "Quillora Server IP",
                                   "Auto close pop-window",
                                   "seconds.",
                                   "Password",
                                   "Start minimized",
                                   "Reconnect",
                                   "attempts."};
        for (int i = 0; i < 9; ++i)
            QCOMPARE(dialog->lblInfo[i]->text(), captions[i]);
        QCOMPARE(dialog->lblNote->text(), QString("Note: Password in saved as plain text."));
        QCOMPARE(dialog->lblInformation->text(),
                 QString("Please enter the default settings. You need to restart the "
                         "application before the changes will take action."));
        QCOMPARE(dialog->cmdButton[0]->text(), QString("Cancel"));
        QCOMPARE(dialog->cmdButton[1]->text(), QString("Ok"));

        // The password shows one "*" per character.
        QTest::keyClicks(dialog->txtDebug[3], "s3cret pw");
        QCOMPARE(dialog->txtDebug[3]->text(), QString("s3cret pw"));
        QCOMPARE(dialog->txtDebug[3]->displayText(), QString(9, QLatin1Char('*')));

        // At least the design's client area, and nothing cut off at the platform's font.
        QVERIFY(dialog->width() >= 292 && dialog->height() >= 368);
        QVERIFY(dialog->width() >= dialog->minimumSizeHint().width());
        QVERIFY(dialog->height() >= dialog->minimumSizeHint().height());
    }

    void opensWithStoredValues()
    {
        const QList<QPair<QString, QString>> stored{{"ClientServerIP", "calls.example.org"},
                                                    {"ClientPort", "7001"},
                                                    {"ClientServerPassword", "horse battery"},
                                                    {"ClientAutoStart", "True"},
                                                    {"ClientPopUpClose", "True"},
                                                    {"ClientPopUpCloseTime", "12"},
                                                    {"ClientReconnect", "True"},
                                                    {"ClientReconnectAttemps", "9"},
                                                    {"ClientMinimized", "True"}};
        for (const auto& [key, value] : stored)
            testsupport::storeSetting(key, value);

        FrmSettings* dialog = frmSettings();
        QCOMPARE(dialog->txtDebug[1]->text(), QString("calls.example.org"));
        QCOMPARE(dialog->txtDebug[0]->text(), QString("7001"));
        QCOMPARE(dialog->txtDebug[3]->text(), QString("horse battery"));
        QCOMPARE(dialog->txtDebug[2]->text(), QString("12"));
        QCOMPARE(dialog->txtDebug[4]->text(), QString("9"));
        for (QCheckBox* box : dialog->chkDebug)
            QVERIFY(box->isChecked());
        QVERIFY(dialog->txtDebug[2]->isEnabled());
        QVERIFY(dialog->txtDebug[4]->isEnabled());
    }

    void flagsCountOnlyWhenExactlyTrue_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::newRow("lower case") << "true";
        QTest::newRow("upper case") << "TRUE";
        QTest::newRow("trailing space") << "True ";
        QTest::newRow("False") << "False";
        QTest::newRow("-1") << "-1";
    }
    void flagsCountOnlyWhenExactlyTrue()
    {
        QFETCH(QString, flag);
        for (const char* key :
             {"ClientAutoStart", "ClientPopUpClose", "ClientReconnect", "ClientMinimized"})
            testsupport::storeSetting(key, flag);
        FrmSettings* dialog = frmSettings();
        for (QCheckBox* box : dialog->chkDebug)
            QVERIFY(!box->isChecked());
        QVERIFY(!dialog->txtDebug[2]->isEnabled());
        QVERIFY(!dialog->txtDebug[4]->isEnabled());
    }

    void checkBoxesEnableTheirRow()
    {
        FrmSettings* dialog = frmSettings();
        dialog->show();

        QTest::mouseClick(dialog->chkDebug[1], Qt::LeftButton);
        QVERIFY(dialog->txtDebug[2]->isEnabled());
        QVERIFY(!dialog->txtDebug[4]->isEnabled());
        dialog->txtDebug[2]->setText(QStringLiteral("45"));
        QTest::mouseClick(dialog->chkDebug[1], Qt::LeftButton);
        QVERIFY(!dialog->txtDebug[2]->isEnabled());
        QCOMPARE(dialog->txtDebug[2]->text(), QString("45"));

        QTest::mouseClick(dialog->chkDebug[3], Qt::LeftButton);
        QVERIFY(dialog->txtDebug[4]->isEnabled());
        QVERIFY(!dialog->txtDebug[2]->isEnabled());

        // Auto-connect and start minimised change no other control.
        QTest::mouseClick(dialog->chkDebug[0], Qt::LeftButton);
        QTest::mouseClick(dialog->chkDebug[2], Qt::LeftButton);
        QVERIFY(!dialog->txtDebug[2]->isEnabled());
        QVERIFY(dialog->txtDebug[4]->isEnabled());

        // A disabled box's text is still saved.
        clickOk(dialog);
        const auto values = storedValues();
        QCOMPARE(values.value("ClientPopUpClose"), QString("False"));
        QCOMPARE(values.value("ClientPopUpCloseTime"), QString("45"));
        QCOMPARE(values.value("ClientReconnect"), QString("True"));
        QCOMPARE(values.value("ClientAutoStart"), QString("True"));
        QCOMPARE(values.value("ClientMinimized"), QString("True"));
    }

    void passwordRule_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("1") << "x" << false;
        QTest::newRow("8") << "12345678" << false;
        QTest::newRow("8 not ASCII") << "äöüßéèêë" << false;
        QTest::newRow("9") << "123456789" << true;
        QTest::newRow("9 with spaces") << " 1234567 " << true;
    }
    void passwordRule()
    {
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        FrmSettings* dialog = frmSettings();
        dialog->txtDebug[1]->setText(QStringLiteral("typed.host"));
        dialog->txtDebug[3]->setText(password);
        clickOk(dialog);

        if (accepted) {
            QVERIFY(boxes().isEmpty());
            QVERIFY(!forms::loadedOrNull<FrmSettings>());
            QCOMPARE(storedValues().value("ClientServerPassword", "missing"), password);
            return;
        }
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().prompt,
                 QString("Your password must be more than 8 characters long."));
        QCOMPARE(boxes().first().style, 64);
        QCOMPARE(boxes().first().title, QString("Settings"));
        // Refused: nothing saved, the dialog stays with the user's entries.
        QVERIFY(!storeWritten());
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), dialog);
        QCOMPARE(dialog->txtDebug[1]->text(), QString("typed.host"));
        QCOMPARE(dialog->txtDebug[3]->text(), password);
    }

    void okWritesTheNineKeysAsShown()
    {
        // Nothing changed: the defaults shown become stored values.
        clickOk(frmSettings());
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        const QMap<QString, QString> defaults{
            {"ClientServerIP", "127.0.0.1"}, {"ClientPort", "6996"},
            {"ClientServerPassword", ""},    {"ClientAutoStart", "False"},
            {"ClientPopUpClose", "False"},   {"ClientPopUpCloseTime", "30"},
            {"ClientReconnect", "False"},    {"ClientReconnectAttemps", "5"},
            {"ClientMinimized", "False"}};
        QCOMPARE(storedValues(), defaults);

        // Texts are stored exactly as typed: untrimmed, unchecked.
        FrmSettings* dialog = frmSettings();
        dialog->txtDebug[1]->setText(QStringLiteral(" host with spaces "));
        dialog->txtDebug[0]->setText(QStringLiteral("abc"));
        dialog->txtDebug[2]->setText(QStringLiteral("ten"));
        dialog->txtDebug[4]->setText(QString());
        dialog->txtDebug[3]->setText(QStringLiteral("p,a=s s;[x]\"q"));
        dialog->chkDebug[0]->setChecked(true);
        // A box that is neither ticked nor unticked counts as on.
        dialog->chkDebug[2]->setTristate(true);
        dialog->chkDebug[2]->setCheckState(Qt::PartiallyChecked);
        clickOk(dialog);
        const QMap<QString, QString> typed{{"ClientServerIP", " host with spaces "},
                                           {"ClientPort", "abc"},
                                           {"ClientServerPassword", "p,a=s s;[x]\"q"},
                                           {"ClientAutoStart", "True"},
                                           {"ClientPopUpClose", "False"},
                                           {"ClientPopUpCloseTime", "ten"},
                                           {"ClientReconnect", "False"},
                                           {"ClientReconnectAttemps", ""},
                                           {"ClientMinimized", "True"}};
        QCOMPARE(storedValues(), typed);
        QCOMPARE(GetSetting(SettingsStore::ClientServerIP), QString(" host with spaces "));
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString("p,a=s s;[x]\"q"));
        QVERIFY(boxes().isEmpty());
    }

    void cancelAndCloseSaveNothing()
    {
        testsupport::storeSetting("ClientPort", "7001");
        FrmSettings* dialog = frmSettings();
        dialog->txtDebug[0]->setText(QStringLiteral("8000"));
        dialog->chkDebug[0]->setChecked(true);
        QTest::mouseClick(dialog->cmdButton[0], Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QCOMPARE(storedValues(), (QMap<QString, QString>{{"ClientPort", "7001"}}));

        // Opened again: filled afresh from the store; the title bar's close is Cancel.
        testsupport::unloadAllWindows();
        dialog = frmSettings();
        QCOMPARE(dialog->txtDebug[0]->text(), QString("7001"));
        QVERIFY(!dialog->chkDebug[0]->isChecked());
        dialog->txtDebug[0]->setText(QStringLiteral("8000"));
        dialog->close();
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QCOMPARE(storedValues(), (QMap<QString, QString>{{"ClientPort", "7001"}}));
    }

    void enterAndEscapeDoNothing()
    {
        FrmSettings* dialog = frmSettings();
        dialog->show();
        for (QWidget* target : {static_cast<QWidget*>(dialog->cmdButton[1]),
                                static_cast<QWidget*>(dialog->cmdButton[0]),
                                static_cast<QWidget*>(dialog->txtDebug[1])}) {
            for (auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(target, key);
        }
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!storeWritten());
        QVERIFY(boxes().isEmpty());
    }

    void failingStoreIsReported()
    {
        // The store's file cannot be written: a folder stands where the file belongs
        // (this fails for every user, the superuser included).
        QVERIFY(QDir().mkpath(SettingsStore::location()));

        FrmSettings* dialog = frmSettings();
        dialog->txtDebug[3]->setText(QStringLiteral("long enough"));
        clickOk(dialog);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first().prompt, QString("The changes could not be saved."));
        QCOMPARE(boxes().first().style, 48);
        QCOMPARE(boxes().first().title, QString("Settings"));
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QCOMPARE(GetSetting(SettingsStore::ClientServerIP), QString());
        QVERIFY(QDir(SettingsStore::location()).isEmpty());
    }

    void focusOrder()
    {
        testsupport::storeSetting("ClientPopUpClose", "True");
        testsupport::storeSetting("ClientReconnect", "True");
        FrmSettings* dialog = frmSettings();
        dialog->show();
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        dialog->txtDebug[1]->setFocus();

        const QList<QWidget*> expected{
            dialog->txtDebug[1],  dialog->txtDebug[0], dialog->chkDebug[0], dialog->chkDebug[1],
            dialog->txtDebug[2],  dialog->txtDebug[3], dialog->chkDebug[2], dialog->cmdButton[0],
            dialog->cmdButton[1], dialog->chkDebug[3], dialog->txtDebug[4], dialog->txtDebug[1]};
        QList<QWidget*> visited{QApplication::focusWidget()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, expected);
    }

    void menuOpensOneModelessDialog()
    {
        FrmMain* main = frmMain();
        main->ToolsSettings->trigger();
        FrmSettings* dialog = forms::loadedOrNull<FrmSettings>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        dialog->txtDebug[1]->setText(QStringLiteral("unsaved.host"));

        // Chosen again while open: the same window, entries not refilled.
        main->ToolsSettings->trigger();
        QCOMPARE(forms::loadedOrNull<FrmSettings>(), dialog);
        QCOMPARE(dialog->txtDebug[1]->text(), QString("unsaved.host"));

        // The main window's unload closes the dialog without saving.
        main->FileExit->trigger();
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QVERIFY(!storeWritten());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
