#include "session/protocol.h"

#include <QTest>

using protocol::Kind;

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void classify_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kind");
        QTest::newRow("greeting") << "Welcome to Quillora Server [0.92]" << int(Kind::Greeting);
        QTest::newRow("ping alone") << "PING_:" << int(Kind::Ping);
        QTest::newRow("ping payload") << "PING_:abc" << int(Kind::Ping);
        QTest::newRow("call") << "CALL_:x,1" << int(Kind::Call);
        QTest::newRow("stats") << "STATS:LAST;#01" << int(Kind::Stats);
        QTest::newRow("contacts") << "CNTAC:SEAR;None" << int(Kind::Contacts);
        QTest::newRow("lower case ping") << "ping_:abc" << int(Kind::Unknown);
        QTest::newRow("five characters") << "PING_" << int(Kind::Unknown);
        QTest::newRow("empty") << "" << int(Kind::Unknown);
        QTest::newRow("greeting then ping") << "Welcome [0.92]PING_:1" << int(Kind::Greeting);
    }
    void classify()
    {
        QFETCH(QString, message);
        QFETCH(int, kind);
        QCOMPARE(int(protocol::classify(message)), kind);
        QCOMPARE(int(protocol::classify(message.toLatin1())), kind);
    }

    void greetingVersion_data()
    {
        QTest::addColumn<QString>("greeting");
        QTest::addColumn<bool>("hasBracket");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0.93") << "Welcome [0.93]" << true << "0.93" << true;
        QTest::newRow("0.92a") << "Welcome [0.92a]" << true << "0.92a" << true;
        QTest::newRow("0.9") << "Welcome [0.9]" << true << "0.9" << false;
        QTest::newRow("0.100 compares as text") << "Welcome [0.100]" << true << "0.100" << false;
        QTest::newRow("CR LF after bracket") << "Welcome [0.92]\r\n" << true << "0.92]\r" << true;
        QTest::newRow("no bracket") << "Welcome to the server" << false << "" << false;
        QTest::newRow("bracket last") << "Welcome [" << true << "" << false;
        QTest::newRow("first bracket counts") << "Welcome [a] [0.92]" << true << "a] [0.92" << true;
    }
    void greetingVersion()
    {
        QFETCH(QString, greeting);
        QFETCH(bool, hasBracket);
        QFETCH(QString, version);
        QFETCH(bool, accepted);
        const protocol::GreetingVersion result = protocol::greetingVersion(greeting);
        QCOMPARE(result.hasBracket, hasBracket);
        QCOMPARE(result.version, version);
        QCOMPARE(hasBracket && protocol::versionAccepted(result.version, "0.92"), accepted);
    }

    void pong()
    {
        QCOMPARE(protocol::pongFor("PING_:"), QString("PONG_:"));
        QCOMPARE(protocol::pongFor("PING_:12345"), QString("PONG_:12345"));
        QCOMPARE(protocol::pongFor("PING_:a\r\n"), QString("PONG_:a\r\n"));
    }

    void callFields_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("prefix only") << "CALL_:" << QStringList{"CALL_:"};
        QTest::newRow("three fields") << "CALL_:2026-12-06 10:00,555-1234,Ann"
                                      << QStringList{"CALL_:2026-12-06 10:00", "555-1234", "Ann"};
        QTest::newRow("empty fields kept") << "CALL_:,,x," << QStringList{"CALL_:", "", "x", ""};
        QTest::newRow("Ping! removed everywhere")
            << "CALL_:Ping!,5Ping!5,AnPing!n" << QStringList{"CALL_:", "55", "Ann"};
        QTest::newRow("Ping! removal joins a comma")
            << "CALL_:,a,Ping!,b" << QStringList{"CALL_:", "a", "", "b"};
    }
    void callFields()
    {
        QFETCH(QString, call);
        QFETCH(QStringList, fields);
        QCOMPARE(protocol::callFields(call), fields);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
