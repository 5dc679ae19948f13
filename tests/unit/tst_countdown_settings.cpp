#include "popup/countdown.h"
#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestCountdownAndSettings : public QObject {
    Q_OBJECT
private slots:
    void closeTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seconds");
        QTest::newRow("0.4 rounds to 0") << "0.4" << 0;
        QTest::newRow("2.5 to even") << "2.5" << 2;
        QTest::newRow("3.5 to even") << "3.5" << 4;
        QTest::newRow("surrounding spaces") << " 7 " << 7;
        QTest::newRow("above 16 bits") << "40000" << 40000;
        QTest::newRow("capped at a day") << "1e9" << countdown::MaxSeconds;
        QTest::newRow("negative") << "-5" << countdown::None;
        QTest::newRow("empty") << "" << countdown::None;
        QTest::newRow("not finite") << "inf" << countdown::None;
    }
    void closeTime()
    {
        QFETCH(QString, text);
        QFETCH(int, seconds);
        QCOMPARE(countdown::secondsFor(text), seconds);
    }

    void settingsStore()
    {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());

        // Empty store: every key reads empty, nothing is written by reading.
        QCOMPARE(GetSetting(SettingsStore::ClientServerIP), QString());
        QVERIFY(!QFile::exists(SettingsStore::location()));

        QVERIFY(SaveSetting(SettingsStore::ClientServerPassword, "p,a=s s;[x]"));
        QVERIFY(SaveSetting(SettingsStore::ClientReconnectAttemps, "5"));
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString("p,a=s s;[x]"));
        QCOMPARE(GetSetting(SettingsStore::ClientReconnectAttemps), QString("5"));
        QVERIFY(SettingsStore::location().startsWith(dir.path()));
        QVERIFY(SettingsStore::location().endsWith("Quillora/Quillora.conf"));

        // The file holds the password: only its owner may read it.
        QCOMPARE(QFile::permissions(SettingsStore::location()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser);

        // The section and key names as an earlier run would have written them.
        QSettings raw(SettingsStore::location(), QSettings::IniFormat);
        QCOMPARE(raw.value("Settings/ClientReconnectAttemps").toString(), QString("5"));

        // A store that cannot be written: the save fails and the old value stays in use.
        QVERIFY(QFile::remove(SettingsStore::location()));
        QVERIFY(QDir().mkpath(SettingsStore::location()));
        QVERIFY(!SaveSetting(SettingsStore::ClientReconnectAttemps, "9"));
        QVERIFY(GetSetting(SettingsStore::ClientReconnectAttemps) != "9");
    }

    void flags()
    {
        QVERIFY(SettingsStore::isOn("True"));
        for (const char* off : {"true", "TRUE", "False", "", " True", "True "})
            QVERIFY2(!SettingsStore::isOn(off), off);
    }

    void handEditedListValueReadsAsText()
    {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QDir().mkpath(dir.filePath("Quillora"));
        QFile file(dir.filePath("Quillora/Quillora.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Settings]\nClientServerPassword=a, b\n");
        file.close();
        QCOMPARE(GetSetting(SettingsStore::ClientServerPassword), QString("a, b"));
    }
};

QTEST_GUILESS_MAIN(TestCountdownAndSettings)
#include "tst_countdown_settings.moc"
