// The settings file's reader and writer, alone and against QSettings' INI files; the file
// private whatever the umask, and once saved to; left alone if read-only or big.

#include "settings/inifile.h"
#include "settings/settingsstore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <sys/stat.h>

namespace {
const QString Section = QStringLiteral("Settings");
const QString Key = QStringLiteral("ClientServerPassword");

// The owner's, group's and others' bits of an octal mode such as 0640.
QFile::Permissions permissionsOf(int mode)
{
    return QFile::Permissions::fromInt((mode >> 6 & 7) << 12 | (mode >> 3 & 7) << 4 | (mode & 7));
}

// The mode's bits, without those that say what this process may do.
QFile::Permissions modeOf(const QString& path)
{
    return QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    // What a hand-edited file reads as (what QSettings writes: see roundTrips), and what it
    // is with K set to "new": the key's line changed and nothing else.
    void readAndWritten_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("text");     // null: the file has no such key
        QTest::addColumn<QByteArray>("after"); // null: not written
        const auto line = [](const char* name, const QByteArray& value, const QString& text) {
            QTest::newRow(name) << "[Settings]\nK=" + value + '\n' << text << QByteArray();
        };
        line("semicolon", "abc;def", "abc;def");
        line("blanks around", " \t spaced out \t", "spaced out");
        line("quoted, escaped quote inside", " \"a\\\";b\" ", "a\";b");
        line("quotes not enclosing", "\"a\"b\"", "\"a\"b\"");
        line("last quote escaped", "\"a\\\"", "\"a\"");
        line("typed path, escape-like", R"(C:\dir\Users\new)", "C:\\dir\\Users\new");
        line("no value", "@Invalid()", "");
        line("bytes", "@ByteArray(xy)", "xy");
        const auto row = [](const char* name, const QByteArray& file, const QString& text,
                            const QByteArray& after = {}) {
            QTest::newRow(name) << file << text << after;
        };
        row("comments", "[Settings]\n;K=1\n  # K=2\n", {});
        row("blanks around key", "[ Settings ]\n  K = 7 \n", "7");
        row("other section, last one counts",
            "[Other]\nK=0\n[Settings]\nK=1\n[Other]\n[Settings]\nK=2\n", "2");
        row("CR LF and BOM", "\xEF\xBB\xBF[Settings]\r\nK=1\r\n", "1");
        row("unparseable lines", "[Settings]\ngarbage\n\"open; quote\n]\nK=3", "3");
        row("new file", {}, {}, "[Settings]\nK=new\n");
        row("replaced", "; mine\n[Settings]\n# note\n  K = old \ngarbage\n[Other]\nK=1\n", "old",
            "; mine\n[Settings]\n# note\nK=new\ngarbage\n[Other]\nK=1\n");
        row("last of two replaced", "[Settings]\nK=1\nK=2\n", "2", "[Settings]\nK=1\nK=new\n");
        row("added after the last key", "[Settings]\nA=1\n; end\n\n[Other]\n", {},
            "[Settings]\nA=1\nK=new\n; end\n\n[Other]\n");
        row("section added", "[Other]\nx=1", {}, "[Other]\nx=1\n\n[Settings]\nK=new\n");
        row("lone CR", "[Settings]\rA=0\rK=1\rB=2\r", "1", "[Settings]\rA=0\rK=new\rB=2\r");
    }
    void readAndWritten()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, text);
        QFETCH(QByteArray, after);
        const QString found = inifile::value(file, Section, QStringLiteral("K"));
        QCOMPARE(found, text);
        QVERIFY(found.isNull() || !text.isNull());
        if (!after.isNull())
            QCOMPARE(inifile::withValue(file, Section, "K", "new"), after);
    }

    // Any text the dialog may write reads back the same, here and through QSettings; and
    // what QSettings writes reads back the same here.
    void roundTrips_data()
    {
        QTest::addColumn<QString>("text");
        // Texts that need quotes, escapes or markers, or look like them.
        QStringList texts{QString("NUL") + QChar(0) + "5"};
        texts << QStringList{"",           " lead", "trail ",        "abc;def",
                             "a,b",        "x=y",   "q\"uote",       "\\\\server\\share",
                             "ends\\",     "#hash", "@at",           "\\x41\\0\\t",
                             "[Settings]", "äöü€😀", "@ByteArray(x)", "\a\b tab\there\nline\r\n"};
        for (const QString& text : texts)
            QTest::newRow(qPrintable(text.toUtf8().toPercentEncoding())) << text;
    }
    void roundTrips()
    {
        QFETCH(QString, text);
        const QByteArray base("; kept\n[Other]\nClientServerPassword=other\n");
        const QByteArray ours = inifile::withValue(base, Section, Key, text);
        QCOMPARE(inifile::value(ours, Section, Key), text);
        QVERIFY(ours.startsWith(base));
        // Read by QSettings, and what it writes, from a fresh folder each time (QSettings
        // keeps the files it read).
        QTemporaryDir dir;
        QFile file(dir.filePath("ours.conf")), theirs(dir.filePath("theirs.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ours) == ours.size());
        file.close();
        const QSettings read(file.fileName(), QSettings::IniFormat);
        QCOMPARE(read.value(Section + '/' + Key).toString(), text);
        QSettings(theirs.fileName(), QSettings::IniFormat).setValue(Section + '/' + Key, text);
        QVERIFY(theirs.open(QIODevice::ReadOnly));
        QByteArray written = theirs.readAll();
#ifdef Q_OS_WIN
        written.replace("\r\n", "\n"); // Qt's line ends there; ours are the Linux file's
#endif
        QCOMPARE(inifile::value(written, Section, Key), text);
        QCOMPARE(inifile::withValue(QByteArray(), Section, Key, text), written); // byte for byte
        // And through the store itself, which on Windows is the registry.
        testsupport::useEmptyStore(dir.path());
        QVERIFY(SaveSetting(Key, text));
        QCOMPARE(GetSetting(Key), text);
    }

    // A file saved to is private, with its folder and every folder made on the way to it,
    // even under a umask that leaves them open to all: a new one, one an older version left
    // open to others, also when the value stays. A read-only or a too big one is left alone.
    void fileModes_data()
    {
#ifdef Q_OS_WIN
        QSKIP("on Windows the store is the registry: no file, no folders, no modes");
#endif
        QTest::addColumn<int>("mode");     // 0: no file yet
        QTest::addColumn<int>("size");     // padded with a comment to this many bytes
        QTest::addColumn<QString>("port"); // saved; the file has 1
        QTest::addColumn<bool>("saved");
        QTest::newRow("new") << 0 << 0 << "2" << true;
        QTest::newRow("group may read") << 0640 << 0 << "2" << true;
        QTest::newRow("all may read, same value") << 0644 << 0 << "1" << true;
        QTest::newRow("read-only") << 0400 << 0 << "2" << false; // even for the superuser
        QTest::newRow("1 MiB") << 0600 << 1024 * 1024 << "2" << true;
        QTest::newRow("1 MiB and a byte") << 0600 << 1024 * 1024 + 1 << "2" << false;
    }
    void fileModes()
    {
        QFETCH(int, mode);
        QFETCH(int, size);
        QFETCH(QString, port);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        const QString base = dir.filePath("a/b");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, base);
        const QString path = SettingsStore::location();
        const QString folder = QFileInfo(path).path();
        QByteArray before("[Settings]\nClientPort=1\n");
        if (size > 0)
            before += ';' + QByteArray(size - before.size() - 2, 'x') + '\n';
        QFile file(path);
        if (mode) {
            QVERIFY(QDir().mkpath(folder) && QFile::setPermissions(folder, permissionsOf(0755)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
            file.close();
            QVERIFY(QFile::setPermissions(path, permissionsOf(mode)));
        }
        const bool read = mode && (saved || mode != 0600);
        QCOMPARE(GetSetting(SettingsStore::ClientPort), QString(read ? "1" : ""));
        QVERIFY(mode || !QFile::exists(path)); // reading an empty store writes nothing
        const mode_t old = ::umask(0);
        const bool written = SaveSetting(SettingsStore::ClientPort, port);
        ::umask(old);
        QCOMPARE(written, saved);
        QCOMPARE(modeOf(path), permissionsOf(saved ? 0600 : mode));
        QCOMPARE(modeOf(folder), permissionsOf(saved ? 0700 : 0755));
        for (const QString& made : {dir.filePath("a"), base})
            QVERIFY(mode || modeOf(made) == permissionsOf(0700));
        // The section and key as an earlier version wrote and reads them.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
                 saved ? QByteArray(before).replace("Port=1", "Port=" + port.toUtf8()) : before);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
