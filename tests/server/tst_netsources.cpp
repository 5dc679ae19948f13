// The router's call monitor and the PBX's manager interface against fake peers on 127.0.0.1:
// what they announce, how they log in and recover, how little a flood makes them hold.

#include "amisource.h"
#include "callsources.h"
#include "fakeami.h"
#include "fakemonitor.h"
#include "fritzboxsource.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

const SourceTiming Quick{50, 400, 5000};

// The calls announced so far, each "number|name|called|line".
QStringList calls(const QSignalSpy& spy)
{
    QStringList out;
    for (const QList<QVariant>& signal : spy) {
        const auto c = signal.first().value<IncomingCall>();
        out << c.number + '|' + c.name + '|' + c.called + '|' + c.line;
    }
    return out;
}

} // namespace

class TestNetSources final : public QObject {
    Q_OBJECT

private slots:
    // A line without end is cut off after a few KiB held, and the source comes back. Then
    // a RING is announced, with or without a number; the other events and lines are not.
    void fritzbox()
    {
        FakeMonitor monitor;
        FritzboxSource source("127.0.0.1", monitor.port(), Quick);
        QSignalSpy up(&source, &CallSource::up);
        QSignalSpy down(&source, &CallSource::down);
        QSignalSpy came(&source, &CallSource::callCame);
        source.start();
        QVERIFY(up.wait());
        monitor.send(QByteArray(8 << 20, 'x')); // no line end
        QVERIFY(down.wait());
        QCOMPARE(down.value(0).value(0).toString(), "a line longer than 4096 bytes");
        QCOMPARE_LE(source.mostHeld(), 3 * NetworkSource::MaxLineBytes);
        QVERIFY(QTest::qWaitFor([&] { return up.size() == 2; }));
        monitor.send("28.11.20 15:17:43;CALL;1;4;5551234;0301234567;SIP0;\r\n"
                     "28.11.20 15:17:45;CONNECT;1;4;0301234567;\r\n"
                     "28.11.20 15:18:02;DISCONNECT;1;17;\r\n"
                     "28.11.20 15:18:03;RING;2;5551234;\n"
                     "no monitor line\r\n"
                     "28.11.20 15:19:00;RING;3;;5551234;SIP0;\r\n"
                     "28.11.20 15:19:40;RING;4;01701234567;5551299;SIP1;\n");
        QVERIFY(QTest::qWaitFor([&] { return came.size() >= 2; }));
        QCOMPARE(calls(came), QStringList({"||5551234|5551234", "01701234567||5551299|5551299"}));
    }

    // The login is never sent in the clear where TLS was asked for; a peer that never answers
    // is given up in time.
    void amiLoginFails()
    {
        FakeAmi ami("quill", "s3cret");
        FakeMonitor silent;
        for (const auto& [port, tls, why] : {std::tuple{ami.port(), true, "TLS handshake failed"},
                                             {silent.port(), false, "no answer in time"}}) {
            AmiSource source({"127.0.0.1", port, tls, "quill", "s3cret"}, {50, 400, 300});
            QSignalSpy down(&source, &CallSource::down);
            source.start();
            QVERIFY(down.wait());
            const QString got = down.value(0).value(0).toString();
            QVERIFY2(got.startsWith(why), qPrintable(got));
        }
        QVERIFY(!ami.received().contains("s3cret"));
    }

    void amiCalls_data()
    {
        QTest::addColumn<QByteArrayList>("events"); // each an event's lines, "|" between them
        QTest::addColumn<QStringList>("expected");
        const QByteArray first = "Event: Newchannel|Uniqueid: 1.1|Linkedid: 1.1|"
                                 "CallerIDNum: 030111|CallerIDName: Ann|Exten: 5551234";
        const QByteArray second = "Event: Newchannel|Uniqueid: 1.2|Linkedid: 1.1|CallerIDNum: 2";
        const QByteArray ringing = "Event: Newstate|ChannelStateDesc: Ringing|Uniqueid: 1.2|"
                                   "Linkedid: 1.1|ConnectedLineNum: 030111|ConnectedLineName: Ann";
        const QString ann = "030111|Ann|5551234|ami 127.0.0.1";
        const auto row = [](const char* name, const QByteArrayList& events, const QString& call) {
            QTest::newRow(name) << events << (call.isEmpty() ? QStringList() : QStringList{call});
        };
        row("second channel ringing", {second, ringing}, "030111|Ann||ami 127.0.0.1");
        row("both, once", {first, second, ringing, first}, ann);
        row("not ringing, or the first channel",
            {QByteArray(ringing).replace("Ringing", "Ring"),
             QByteArray(ringing).replace("1.2", "1.1")},
            {});
        row("<unknown>",
            {QByteArray(first).replace("030111", "<unknown>").replace("Ann", "<unknown>")},
            "||5551234|ami 127.0.0.1");
        // The bounds of a message: 64 lines are read, one more or 16 KiB and it is skipped.
        const QByteArray lines = first + QByteArray("|Variable: x").repeated(58);
        const QByteArray padding = "|Padding: " + QByteArray(4000, 'p');
        row("64 lines", {lines}, ann);
        row("65 lines", {lines + "|Variable: x"}, {});
        row("16 KiB", {first + padding.repeated(5)}, {});
    }

    // The login carries the user, the secret and the call events. Each call once, at the first
    // channel or at the first ringing of another; after the row's events a last call shows
    // that nothing else came and the connection held.
    void amiCalls()
    {
        QFETCH(QByteArrayList, events);
        QFETCH(QStringList, expected);
        FakeAmi ami("quill", "s3cret");
        AmiSource source({"127.0.0.1", ami.port(), false, "quill", "s3cret"}, Quick);
        QSignalSpy up(&source, &CallSource::up);
        QSignalSpy came(&source, &CallSource::callCame);
        source.start();
        QVERIFY(up.wait());
        QCOMPARE(ami.received(),
                 "Action: Login\r\nUsername: quill\r\nSecret: s3cret\r\nEvents: call\r\n\r\n");
        for (const QByteArray& event : std::as_const(events))
            ami.sendEvent(event.split('|'));
        ami.sendEvent({"Event: Newchannel", "Uniqueid: 9", "Linkedid: 9", "CallerIDNum: 0309"});
        QVERIFY(QTest::qWaitFor([&] { return calls(came).join(',').contains("0309|"); }));
        QCOMPARE(calls(came), expected + QStringList{"0309|||ami 127.0.0.1"});
    }

    // Refused logins are retried after 50, 100, 200, then 400 ms (the longest); up again, a
    // drop is retried after the first pause.
    void backOff()
    {
        FakeAmi ami("quill", "other");
        AmiSource source({"127.0.0.1", ami.port(), false, "quill", "s3cret"}, Quick);
        QSignalSpy up(&source, &CallSource::up);
        QSignalSpy down(&source, &CallSource::down);
        QElapsedTimer clock;
        QList<qint64> at; // when each connection came
        connect(&ami, &FakeMonitor::clientCame, this, [&] { at << clock.elapsed(); });
        clock.start();
        source.start();
        QVERIFY(QTest::qWaitFor([&] { return at.size() == 6; }));
        ami.setSecret("s3cret");
        QVERIFY(up.wait());
        for (int i = 1; i < 6; ++i) {
            const qint64 pause = std::min(50 << (i - 1), 400), gap = at[i] - at[i - 1];
            QVERIFY2(gap >= 0.9 * pause && gap < pause + 300,
                     qPrintable(QString("try %1 after %2 ms").arg(i).arg(gap)));
        }
        QCOMPARE(down.value(0).value(0).toString(), "login refused: Authentication failed");
        const qint64 dropped = clock.elapsed();
        ami.dropAll();
        QVERIFY(QTest::qWaitFor([&] { return up.size() == 2; }));
        QCOMPARE(down.value(1).value(0).toString(), "the connection was closed");
        QVERIFY2(at.last() - dropped < 250, qPrintable(QString::number(at.last() - dropped)));
    }

    // A source reporting calls faster than phones ring is held to 60 a minute.
    void callsPerMinuteBounded()
    {
        FakeMonitor monitor;
        QStringList heard;
        CallSources sources(
            {{SourceSpec::Kind::Fritzbox, {}, "127.0.0.1", monitor.port(), false, {}, {}}},
            [&](const IncomingCall& call) { heard << call.number; }, Quick);
        sources.start();
        QTRY_VERIFY(sources.states().value(0).up);
        for (int i = 0; i < 70; ++i)
            monitor.send("08.12.26 10:00:00;RING;0;" + QByteArray::number(100 + i) + ";0;SIP0;\n");
        QTRY_COMPARE(heard.size(), CallRate::PerMinute);
        QTest::qWait(100); // the last ten came in meanwhile, and went unannounced
        QVERIFY(heard.size() == CallRate::PerMinute && heard.last() == "159");
    }
};

QTEST_GUILESS_MAIN(TestNetSources)
#include "tst_netsources.moc"
