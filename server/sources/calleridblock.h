#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>
#include <optional>

// The caller-ID a modem reports between the first and second RING: pure functions, no I/O.
//
// With AT+VCID=1 (or AT#CID=1) it prints one line per item, in any order:
//     DATE = 0511   TIME = 1852   NMBR = 4075550000   NAME = JOHN DOE
// (some exchanges send DDN_NMBR instead of NMBR; MESG and other keys carry nothing we show).
// With AT+VCID=2 it prints the message as received, one line of hex digits: an SDMF message
// (type 0x04) or an MDMF one (type 0x80), each ending in a checksum byte.
namespace callerid {

struct CallerId {
    QString number;           // as the line gave it, or a withheld word; empty when not given
    QString name;             // empty when not given or withheld
    int month = 0, day = 0;   // 0 when the line gave no valid date
    QTime time;               // invalid when the line gave no valid time
    bool numberGiven = false; // a number or the reason for its absence came
    bool nameGiven = false;   // a name or the reason for its absence came
};

enum class LineKind {
    Other, // not caller-ID (a modem's answer, a rejected hex message, an unknown key)
    Part,  // one item of a formatted block, added to the CallerId
    Whole, // a valid hex message: the CallerId is replaced by it
};

// Reads one line (without its line end) into `id`.
LineKind readLine(const QByteArray& line, CallerId* id);

// A whole SDMF or MDMF message in hex; nothing when the hex, the length or the checksum is
// wrong, or when it is a message of another type.
std::optional<CallerId> fromHex(const QByteArray& hex);

} // namespace callerid
