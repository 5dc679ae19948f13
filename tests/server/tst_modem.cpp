// The modem call source: the caller-ID blocks a modem prints, and the source set up on a
// simulated modem on a pseudo-terminal, hearing calls, losing the modem and finding it again.

#include "calleridblock.h"
#include "modemsim.h"
#include "modemsource.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Retries after 50 ms doubling to 200, set-up within 300 ms, calls over after 300 quiet ms:
// well above the simulator's pause between RINGs.
const SourceTiming Timing{50, 200, 300, 300};

} // namespace

class TestModem final : public QObject {
    Q_OBJECT

private slots:
    // Read line by line as the source reads it: "number|name|MM-DD HH:MM", "--" for a date or
    // time left out, "hex " before a whole hex message; "none" when no line was caller-ID.
    void block_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("read");
        const auto row = [](const char* name, const QByteArray& block, const char* read) {
            QTest::newRow(name) << block << QString::fromUtf8(read);
        };
        using namespace modemsamples;
        row("formatted", Formatted, "4075550000|JOHN DOE|05-11 18:52");
        row("private", Private, "Private||05-11 18:52");
        row("out of area, no name", "NMBR = O\r\nNAME = O\r\n", "Out of area||-- --");
        row("anonymous, no spaces", "NMBR=A\r\nNAME=P\r\n", "Anonymous||-- --");
        row("broken time, any order", BrokenTime, "4075550000|JOHN DOE|05-11 --");
        row("out of range", "NMBR = 12\r\nDATE = 0230\r\nTIME = 2400\r\n", "12||-- --");
        row("malformed date", "NMBR = 12\r\nDATE = 5/11\r\n", "12||-- --");
        row("DDN_NMBR, MESG, UTF-8", Utf8Name, "4075550000|JÜRGEN MÜLLER|05-11 18:52");
        row("invalid UTF-8", "NAME = REN\xC9 \xFF\r\n", "|REN\xEF\xBF\xBD \xEF\xBF\xBD|-- --");
        row("answers and unknown keys", "OK\r\nMESG = 0307\r\nX = 1\r\nRING\r\n", "none");
        row("SDMF", SdmfHex, "hex 4075550000||05-11 18:52");
        row("MDMF", MdmfHex, "hex 4075550000|JOHN DOE|05-11 18:52");
        row("MDMF, withheld", MdmfPrivateHex, "hex Private||05-11 18:52");
        row("bad checksum", QByteArray(SdmfHex).replace("59\r", "5A\r"), "none");
        row("odd length", SdmfHex.trimmed().chopped(1), "none");
        row("not hex", QByteArray(SdmfHex).replace("0412", "04G2"), "none");
        // The checksums are right: a length past the end of the line, a parameter past the
        // end of the message.
        row("length past the end", "041330353131313835323430373535353030303058", "none");
        row("parameter past the end", "8012020A3430373535353030303007204A4F484E12", "none");
    }
    void block()
    {
        QFETCH(QByteArray, block);
        QFETCH(QString, read);
        callerid::CallerId id;
        QString kind = "none";
        for (const QByteArray& line : block.split('\n')) {
            const callerid::LineKind k = callerid::readLine(line, &id);
            if (k != callerid::LineKind::Other)
                kind = k == callerid::LineKind::Whole ? "hex " : "";
        }
        const auto two = [](int n) { return QString::number(n).rightJustified(2, '0'); };
        const QString date = id.month ? two(id.month) + '-' + two(id.day) : "--";
        const QString time = id.time.isValid() ? id.time.toString("HH:mm") : "--";
        QCOMPARE(kind == "none" ? kind : kind + id.number + '|' + id.name + '|' + date + ' ' + time,
                 read);
    }

    // A modem that does not answer, one pulled out, then one plugged in under the same name (a
    // link to a new pseudo-terminal): down, retried, up each time, the last set up with the
    // fallback. One announcement per call, as soon as the caller-ID is whole (counted in RINGs
    // the modem had sent by then), at the second RING without one, at the next RING for a
    // block without a name; a line over the bound dropped up to its end.
    void calls()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("modem");
        ModemSim first, sim;
        first.silent = true;
        QVERIFY(QFile::link(first.devicePath(), link));
        ModemSource source(link, Timing);
        QSignalSpy ups(&source, &CallSource::up), downs(&source, &CallSource::down);
        QStringList heard;
        connect(&source, &CallSource::callCame, this, [&](const IncomingCall& call) {
            heard << call.number + '|' + call.name + '|' + QString::number(sim.ringsWritten());
        });
        source.start();
        QVERIFY(downs.wait());
        first.silent = false;
        QVERIFY(ups.wait());
        QCOMPARE(first.commands().last(), "AT+VCID=1"); // no fallback where it is not needed
        first.unplug();
        QVERIFY(downs.wait());
        sim.knowsVcid = false;
        sim.pauseMs = 100;
        QVERIFY(QFile::remove(link) && QFile::link(sim.devicePath(), link));
        QVERIFY(ups.wait());
        QCOMPARE(downs.at(0).at(0).toString(), "the modem does not answer");
        QCOMPARE(downs.at(1).at(0).toString(), "the modem is gone");
        QCOMPARE(sim.commands(), (QStringList{"AT Z", "AT+VCID=1", "AT#CID=1"}));
        const QByteArray overLong = "NAME = A B\r\n" + QByteArray(ModemSource::MaxLine + 100, ' ') +
                                    "NMBR = 999\r\nNMBR = 555\r\n";
        using namespace modemsamples;
        for (const QByteArray& block : {Formatted, QByteArray(), Private, SdmfHex, overLong}) {
            sim.playCall(block, 4);
            QVERIFY(QSignalSpy(&sim, &ModemSim::played).wait());
            QTest::qWait(Timing.ringGapMs + 150); // the line quiet: the call is over
        }
        QCOMPARE(heard, (QStringList{"4075550000|JOHN DOE|1", "||2", "Private||2", "4075550000||1",
                                     "555|A B|1"}));
        // Up and no call: nothing runs.
        for (const QTimer* timer : source.findChildren<QTimer*>())
            QVERIFY(!timer->isActive());
    }
};

QTEST_GUILESS_MAIN(TestModem)
#include "tst_modem.moc"
