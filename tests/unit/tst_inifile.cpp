// The settings file's reader and writer, on their own and against QSettings' INI files.

#include "settings/inifile.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Section = QStringLiteral("Settings");
const QString Key = QStringLiteral("ClientServerPassword");

// A file holding the bytes, read through QSettings; in a fresh folder, so that QSettings'
// own cache of files it has read cannot answer instead of the file.
QString readBySettings(const QByteArray& bytes, const QString& key)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("s.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QStringLiteral("(not written)");
    file.close();
    return QSettings(file.fileName(), QSettings::IniFormat).value(key).toString();
}

QByteArray writtenBySettings(const QString& key, const QString& text)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    QSettings(path, QSettings::IniFormat).setValue(key, text); // written when destroyed
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Texts that need quotes, escapes or markers, or look like them (UTF-8).
const char* const AwkwardTexts[] = {
    "",          " lead",      "trail ",        "  ",         "abc;def",
    "a,b",       "x=y",        "q\"uote",       "\"",         "\\\\server\\share",
    "C:\\dir",   "ends\\",     "\\x41\\0\\t",   "#hash",      "@at",
    "@@at",      "@Invalid()", "@ByteArray(x)", "@String(y)", "\a\b\f\v tab\there\nline\r\n",
    "\001a\x7f", "[Settings]", "äöü€😀"};

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    // What a hand-edited line reads as (what QSettings writes: see roundTrips).
    void reading_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("text");
        QTest::newRow("semicolon") << QByteArray("abc;def") << "abc;def";
        QTest::newRow("comma") << QByteArray("a,b") << "a,b";
        QTest::newRow("hash and equals") << QByteArray("#x=y") << "#x=y";
        QTest::newRow("blanks around") << QByteArray(" \t spaced out \t") << "spaced out";
        QTest::newRow("quoted") << QByteArray(" \"abc;def\" ") << "abc;def";
        QTest::newRow("quoted empty") << QByteArray("\"\"") << "";
        QTest::newRow("escaped quote inside") << QByteArray("\"a\\\";b\"") << "a\";b";
        QTest::newRow("quotes not enclosing") << QByteArray("\"a\"b\"") << "\"a\"b\"";
        QTest::newRow("unterminated quote") << QByteArray("\"abc") << "\"abc";
        QTest::newRow("last quote escaped") << QByteArray("\"a\\\"") << "\"a\"";
        QTest::newRow("typed path") << QByteArray(R"(C:\dir\Users)") << R"(C:\dir\Users)";
        QTest::newRow("escape-like path") << QByteArray(R"(C:\new)") << "C:\new";
        QTest::newRow("trailing backslash") << QByteArray(R"(x\)") << R"(x\)";
        QTest::newRow("x without digits") << QByteArray(R"(\xg\?)") << R"(\xg\?)";
        QTest::newRow("single marker") << QByteArray("@at") << "@at";
        QTest::newRow("no value") << QByteArray("@Invalid()") << "";
        QTest::newRow("bytes") << QByteArray("@ByteArray(xy)") << "xy";
    }
    void reading()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, text);
        QCOMPARE(inifile::value("[Settings]\n" + Key.toUtf8() + '=' + line + '\n', Section, Key),
                 text);
    }

    // Which line of a file is the key's.
    void finding_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("text"); // null: the file has no such key
        QTest::newRow("other section first")
            << QByteArray("[Other]\nK=1\n[Settings]\nK=2\n") << "2";
        QTest::newRow("other section after")
            << QByteArray("[Settings]\nK=2\n[Other]\nK=1\n") << "2";
        QTest::newRow("no section") << QByteArray("K=1\n") << QString();
        QTest::newRow("comments") << QByteArray("[Settings]\n;K=1\n  # K=2\n") << QString();
        QTest::newRow("other case") << QByteArray("[Settings]\nk=1\n") << QString();
        QTest::newRow("blanks around key") << QByteArray("[ Settings ]\n  K = 7 \n") << "7";
        QTest::newRow("last one counts")
            << QByteArray("[Settings]\nK=1\n[Other]\n[Settings]\nK=2\n") << "2";
        QTest::newRow("CR LF and BOM") << QByteArray("\xEF\xBB\xBF[Settings]\r\nK=1\r\n") << "1";
        QTest::newRow("lone CR") << QByteArray("[Settings]\rA=0\rK=1\r") << "1";
        QTest::newRow("unparseable lines")
            << QByteArray("[Settings]\ngarbage\n\"open; quote\n]\nK=3") << "3";
    }
    void finding()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, text);
        const QString found = inifile::value(file, Section, QStringLiteral("K"));
        QCOMPARE(found.isNull(), text.isNull());
        QCOMPARE(found, text);
    }

    // Writing changes the key's line and nothing else.
    void writing_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after"); // with K set to "new"
        QTest::newRow("new file") << QByteArray() << QByteArray("[Settings]\nK=new\n");
        QTest::newRow("replaced")
            << QByteArray("; mine\n[Settings]\n# note\n  K = old \ngarbage\n[Other]\nK=1\n")
            << QByteArray("; mine\n[Settings]\n# note\nK=new\ngarbage\n[Other]\nK=1\n");
        QTest::newRow("last of two replaced")
            << QByteArray("[Settings]\nK=1\nK=2\n") << QByteArray("[Settings]\nK=1\nK=new\n");
        QTest::newRow("added after the last key")
            << QByteArray("[Settings]\nA=1\n; end\n\n[Other]\n")
            << QByteArray("[Settings]\nA=1\nK=new\n; end\n\n[Other]\n");
        QTest::newRow("added after the header") << QByteArray("[Settings]\r\n[Other]\r\n")
                                                << QByteArray("[Settings]\r\nK=new\r\n[Other]\r\n");
        QTest::newRow("no final line break")
            << QByteArray("[Settings]\nA=1") << QByteArray("[Settings]\nA=1\nK=new\n");
        QTest::newRow("section added")
            << QByteArray("[Other]\nx=1") << QByteArray("[Other]\nx=1\n\n[Settings]\nK=new\n");
        QTest::newRow("lone CR kept")
            << QByteArray("[Settings]\rK=1\rA=2\r") << QByteArray("[Settings]\rK=new\rA=2\r");
        QTest::newRow("BOM kept") << QByteArray("\xEF\xBB\xBF[Settings]\nK=1\n")
                                  << QByteArray("\xEF\xBB\xBF[Settings]\nK=new\n");
    }
    void writing()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QCOMPARE(inifile::withValue(before, Section, QStringLiteral("K"), QStringLiteral("new")),
                 after);
    }

    // Any text the dialog may write reads back the same, here and through QSettings; and
    // what QSettings writes reads back the same here.
    void roundTrips_data()
    {
        QTest::addColumn<QString>("text");
        QStringList texts{QString("NUL") + QChar(0) + "5"};
        for (const char* text : AwkwardTexts)
            texts << QString::fromUtf8(text);
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
        QCOMPARE(readBySettings(ours, Section + '/' + Key), text);
        QCOMPARE(readBySettings(ours, "Other/" + Key), QString("other"));
        // Byte for byte what QSettings writes.
        const QByteArray theirs = writtenBySettings(Section + '/' + Key, text);
        QCOMPARE(inifile::value(theirs, Section, Key), text);
        QCOMPARE(inifile::withValue(QByteArray(), Section, Key, text), theirs);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
