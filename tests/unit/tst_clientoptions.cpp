// The client's command line, as given and as Qt leaves it over.

#include "shell/clientoptions.h"

#include <QTest>

using Mode = ClientOptions::Mode;
Q_DECLARE_METATYPE(ClientOptions::Mode)

class TestClientOptions : public QObject {
    Q_OBJECT
private slots:
    void modes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("mentioned"); // in the error text

        QTest::newRow("nothing") << QStringList{} << Mode::Run << "";
        QTest::newRow("help") << QStringList{"--help"} << Mode::Help << "";
        QTest::newRow("-h") << QStringList{"-h"} << Mode::Help << "";
        QTest::newRow("version") << QStringList{"--version"} << Mode::Version << "";
        QTest::newRow("-v") << QStringList{"-v"} << Mode::Version << "";
        // Qt's options, with their values in the next argument or attached.
        QTest::newRow("qt options")
            << QStringList{"-platform", "offscreen", "--style", "fusion",   "-display",
                           ":1",        "-geometry", "300x200", "-reverse", "-stylesheet=x.qss"}
            << Mode::Run << "";
        QTest::newRow("a value that looks like help")
            << QStringList{"-title", "--help"} << Mode::Run << "";
        QTest::newRow("help after qt options")
            << QStringList{"-platform", "xcb", "-h"} << Mode::Help << "";
        QTest::newRow("first decides") << QStringList{"-v", "--help"} << Mode::Version << "";
        QTest::newRow("unknown") << QStringList{"--bogus"} << Mode::Error << "'--bogus'";
        QTest::newRow("unknown before help")
            << QStringList{"-x", "--help"} << Mode::Error << "'-x'";
        QTest::newRow("argument") << QStringList{"file.txt"} << Mode::Error << "'file.txt'";
        QTest::newRow("help with a value")
            << QStringList{"--help=yes"} << Mode::Error << "'--help=yes'";
        QTest::newRow("flag with a value")
            << QStringList{"-reverse=1"} << Mode::Error << "'-reverse=1'";
        QTest::newRow("missing value")
            << QStringList{"-platform"} << Mode::Error << "'-platform' needs a value";
    }
    void modes()
    {
        QFETCH(QStringList, args);
        QFETCH(Mode, mode);
        QFETCH(QString, mentioned);
        const ClientOptions options = parseClientOptions(QStringList{"quillora-client"} + args);
        QCOMPARE(options.mode, mode);
        if (mode == Mode::Error) {
            QVERIFY2(options.text.startsWith("quillora-client: ") &&
                         options.text.contains(mentioned),
                     qPrintable(options.text));
            QVERIFY(options.text.endsWith("\nTry quillora-client --help.\n"));
        }
        if (mode == Mode::Run)
            QVERIFY(options.text.isEmpty());
    }

    void texts()
    {
        QCOMPARE(parseClientOptions({"quillora-client", "-v"}).text,
                 QString("quillora-client " QUILLORA_VERSION "\n"));
        const QString help = parseClientOptions({"quillora-client", "-h"}).text;
        QVERIFY(help.startsWith("Usage: quillora-client"));
        QVERIFY(help.contains("--version") && help.contains("Qt's standard options"));
        QVERIFY(help.endsWith('\n'));
        for (const QString& line : help.split('\n'))
            QVERIFY2(line.size() < 80, qPrintable(line));
    }
};

QTEST_APPLESS_MAIN(TestClientOptions)
#include "tst_clientoptions.moc"
