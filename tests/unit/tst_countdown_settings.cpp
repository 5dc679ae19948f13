#include "popup/countdown.h"
#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

// The owner's, group's and others' bits of an octal mode such as 0640.
QFile::Permissions permissionsOf(int mode)
{
    return QFile::Permissions::fromInt((mode >> 6 & 7) << 12 | (mode >> 3 & 7) << 4 | (mode & 7));
}

// The bits that say what this process may do, rather than what the mode says.
constexpr QFile::Permissions UserBits = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

} // namespace

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

        // The file holds the password: only its owner may read it, or enter its new folder.
        QCOMPARE(QFile::permissions(SettingsStore::location()) & ~UserBits, permissionsOf(0600));
        QCOMPARE(QFile::permissions(QFileInfo(SettingsStore::location()).path()) & ~UserBits,
                 permissionsOf(0700));

        // The section and key names as an earlier run would have written them.
        QSettings raw(SettingsStore::location(), QSettings::IniFormat);
        QCOMPARE(raw.value("Settings/ClientReconnectAttemps").toString(), QString("5"));

        // A store that cannot be written: the save fails and the old value stays in use.
        QVERIFY(QFile::remove(SettingsStore::location()));
        QVERIFY(QDir().mkpath(SettingsStore::location()));
        QVERIFY(!SaveSetting(SettingsStore::ClientReconnectAttemps, "9"));
        QVERIFY(GetSetting(SettingsStore::ClientReconnectAttemps) != "9");
    }

    // Every folder the store makes on the way to its file is private, even with a umask
    // that would leave it open to all.
    void privateUnderAnyUmask()
    {
        QTemporaryDir dir;
        const QString base = dir.filePath("a/b");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, base);
        const mode_t old = ::umask(0);
        const bool saved = SaveSetting(SettingsStore::ClientServerPassword, "secret");
        ::umask(old);
        QVERIFY(saved);
        QCOMPARE(QFile::permissions(SettingsStore::location()) & ~UserBits, permissionsOf(0600));
        for (const QString& folder : {dir.filePath("a"), base, base + "/Quillora"})
            QCOMPARE(QFile::permissions(folder) & ~UserBits, permissionsOf(0700));
    }

    void flags()
    {
        QVERIFY(SettingsStore::isOn("True"));
        for (const char* off : {"true", "TRUE", "False", "", " True", "True "})
            QVERIFY2(!SettingsStore::isOn(off), off);
    }

    // An existing file keeps its mode; one its mode makes read-only is not written, even
    // by the superuser, whom the system would let write it.
    // An existing file keeps its mode; one without write permission, or one too large
    // to be a settings file, is neither rewritten nor (when too large) read.
    void existingFile_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("size"); // padded with a comment to this many bytes
        QTest::addColumn<bool>("saved");
        QTest::newRow("private") << 0600 << 0 << true;
        QTest::newRow("group may read") << 0640 << 0 << true;
        QTest::newRow("group may write") << 0660 << 0 << true;
        QTest::newRow("read-only") << 0400 << 0 << false;
        QTest::newRow("read-only for all") << 0444 << 0 << false;
        QTest::newRow("1 MiB") << 0600 << 1024 * 1024 << true;
        QTest::newRow("1 MiB and a byte") << 0600 << 1024 * 1024 + 1 << false;
    }
    void existingFile()
    {
        QFETCH(int, mode);
        QFETCH(int, size);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        const QString path = SettingsStore::location();
        QByteArray before("[Settings]\nClientPort=1\n");
        if (size > 0)
            before += ';' + QByteArray(size - before.size() - 2, 'x') + '\n';
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        file.close();
        QVERIFY(QFile::setPermissions(path, permissionsOf(mode)));

        QCOMPARE(GetSetting(SettingsStore::ClientPort), QString(saved || mode != 0600 ? "1" : ""));
        QCOMPARE(SaveSetting(SettingsStore::ClientPort, "2"), saved);
        QCOMPARE(QFile::permissions(path) & ~UserBits, permissionsOf(mode));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved ? QByteArray(before).replace("Port=1", "Port=2") : before);
    }
};

QTEST_GUILESS_MAIN(TestCountdownAndSettings)
#include "tst_countdown_settings.moc"
