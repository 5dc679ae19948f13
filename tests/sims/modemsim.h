#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>

// Caller-ID blocks as modems print them between the first and the second RING.
namespace modemsamples {
inline const QByteArray Formatted =
    "DATE = 0511\r\nTIME = 1852\r\nNMBR = 4075550000\r\nNAME = JOHN DOE\r\n";
// No NAME line: the next RING ends the block.
inline const QByteArray Private = "DATE = 0511\r\nTIME = 1852\r\nNMBR = P\r\n";
inline const QByteArray BrokenTime =
    "NAME = JOHN DOE\r\nNMBR = 4075550000\r\nDATE = 0511\r\nTIME = 18:2\r\n";
inline const QByteArray Utf8Name = "DATE = 0511\r\nTIME = 1852\r\nDDN_NMBR = 4075550000\r\n"
                                   "MESG = 030735\r\nNAME = J\xC3\x9CRGEN M\xC3\x9CLLER\r\n";
// AT+VCID=2: SDMF of 05-11 18:52 from 4075550000; MDMF with the name JOHN DOE; MDMF of a
// private number and name.
inline const QByteArray SdmfHex = "041230353131313835323430373535353030303059\r\n";
inline const QByteArray MdmfHex =
    "802001083035313131383532020A3430373535353030303007084A4F484E20444F4584\r\n";
inline const QByteArray MdmfPrivateHex = "80100108303531313138353204015008015022\r\n";
} // namespace modemsamples

// A modem on a pseudo-terminal: the program under test opens devicePath() as its serial
// device. It answers AT commands, and plays calls: RING, a caller-ID block, more RINGs.
class ModemSim : public QObject {
    Q_OBJECT
public:
    explicit ModemSim(QObject* parent = nullptr);
    ~ModemSim() override;

    QString devicePath() const { return m_path; }
    QStringList commands() const { return m_commands; }
    int ringsWritten() const { return m_rings; } // of the call played last

    bool knowsVcid = true; // else AT+VCID=1 is answered ERROR
    bool silent = false;   // answers nothing
    int pauseMs = 200;     // between a call's RINGs

    // RING, the block, then the other RINGs; played() when the last is written.
    void playCall(const QByteArray& block, int rings = 3);
    void write(const QByteArray& bytes);
    // The modem pulled out: the device side sees a hang-up.
    void unplug();

signals:
    void played();

private:
    void readCommands();

    int m_master = -1, m_slave = -1;
    QString m_path;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_input;
    QStringList m_commands;
    int m_rings = 0;
};
