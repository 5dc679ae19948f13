#include "calleridblock.h"

#include "callsource.h"

#include <QDate>
#include <algorithm>

namespace callerid {

namespace {

bool allDigits(const QByteArray& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "MMDD"; a broken date is left out, the rest of the call still counts. The year is not
// sent: a leap year lets 29 February through.
void setDate(const QByteArray& mmdd, CallerId* id)
{
    if (mmdd.size() != 4 || !allDigits(mmdd))
        return;
    const int month = mmdd.left(2).toInt(), day = mmdd.mid(2).toInt();
    if (QDate(2000, month, day).isValid()) {
        id->month = month;
        id->day = day;
    }
}

// "HHMM", left out when broken like the date.
void setTime(const QByteArray& hhmm, CallerId* id)
{
    if (hhmm.size() != 4 || !allDigits(hhmm))
        return;
    const QTime time(hhmm.left(2).toInt(), hhmm.mid(2).toInt());
    if (time.isValid())
        id->time = time;
}

void setNumber(const QByteArray& value, CallerId* id)
{
    id->numberGiven = true;
    if (value == "P")
        id->number = withheld::Private;
    else if (value == "O")
        id->number = withheld::OutOfArea;
    else if (value == "A")
        id->number = withheld::Anonymous;
    else
        id->number = QString::fromUtf8(value);
}

// "P" and "O" in place of a name say why there is none. Invalid UTF-8 becomes U+FFFD.
void setName(const QByteArray& value, CallerId* id)
{
    id->nameGiven = true;
    id->name = value == "P" || value == "O" ? QString() : QString::fromUtf8(value);
}

bool isKey(const QByteArray& key)
{
    return !key.isEmpty() && std::all_of(key.begin(), key.end(),
                                         [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
}

// The parameters of an MDMF message, read only within its stated length.
std::optional<CallerId> fromMdmf(const QByteArray& body)
{
    CallerId id;
    for (qsizetype at = 0; at < body.size();) {
        if (at + 2 > body.size())
            return std::nullopt;
        const int type = quint8(body[at]), size = quint8(body[at + 1]);
        if (at + 2 + size > body.size())
            return std::nullopt;
        const QByteArray value = body.mid(at + 2, size);
        at += 2 + size;
        if (type == 0x01 && size == 8) {
            setDate(value.left(4), &id);
            setTime(value.mid(4), &id);
        } else if (type == 0x02 || type == 0x04) { // the number, or why it is absent
            setNumber(value, &id);
        } else if (type == 0x07) {
            setName(value, &id);
        } else if (type == 0x08) { // why the name is absent
            id.nameGiven = true;
            id.name.clear();
        }
    }
    return id;
}

} // namespace

std::optional<CallerId> fromHex(const QByteArray& hex)
{
    const bool isHex = std::all_of(hex.begin(), hex.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
    if (!isHex || hex.size() % 2 != 0 || hex.size() < 6)
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(hex);
    quint8 sum = 0;
    for (const char c : bytes)
        sum += quint8(c);
    // Type, length, the message, then the checksum that makes the sum of all bytes 0.
    const int type = quint8(bytes[0]), length = quint8(bytes[1]);
    if (sum != 0 || bytes.size() != length + 3)
        return std::nullopt;
    const QByteArray body = bytes.mid(2, length);
    if (type == 0x80)
        return fromMdmf(body);
    if (type != 0x04 || length < 8)
        return std::nullopt;
    CallerId id; // SDMF: MMDDHHMM, then the number or "P" / "O"
    setDate(body.left(4), &id);
    setTime(body.mid(4, 4), &id);
    setNumber(body.mid(8), &id);
    return id;
}

LineKind readLine(const QByteArray& line, CallerId* id)
{
    const QByteArray text = line.trimmed();
    if (const std::optional<CallerId> whole = fromHex(text)) {
        *id = *whole;
        return LineKind::Whole;
    }
    const qsizetype equals = text.indexOf('=');
    const QByteArray key = text.left(equals).trimmed(), value = text.mid(equals + 1).trimmed();
    if (equals < 0 || !isKey(key))
        return LineKind::Other;
    if (key == "DATE")
        setDate(value, id);
    else if (key == "TIME")
        setTime(value, id);
    else if (key == "NMBR" || key == "DDN_NMBR")
        setNumber(value, id);
    else if (key == "NAME")
        setName(value, id);
    else
        return LineKind::Other;
    return LineKind::Part;
}

} // namespace callerid
