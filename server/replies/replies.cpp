#include "replies.h"

#include "session/protocol.h"

#include <QStringList>
#include <algorithm>
#include <charconv>

namespace replies {

namespace {

const QString SearchHead = QStringLiteral("CNTAC:SEAR;");

QString kindHead(requests::StatsKind kind)
{
    switch (kind) {
    case requests::StatsKind::Last:
        return QStringLiteral("STATS:LAST");
    case requests::StatsKind::Unknown:
        return QStringLiteral("STATS:UNKN");
    case requests::StatsKind::Top:
        return QStringLiteral("STATS:TOPS");
    case requests::StatsKind::Contacts:
        return QStringLiteral("STATS:CNTS");
    }
    return QString();
}

} // namespace

QString field(const QString& value)
{
    QString safe = value;
    safe.replace(QLatin1Char(','), CommaReplacement);
    return safe;
}

QString formatTime(const QDateTime& at)
{
    return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString call(const QDateTime& at, const QString& number, const std::optional<Contact>& caller)
{
    QStringList fields{protocol::CallPrefix + formatTime(at), field(number)};
    if (caller) {
        fields << field(caller->name) << field(caller->home) << field(caller->mobile)
               << field(caller->businessPhone) << field(caller->businessFax)
               << field(caller->email);
    } else {
        for (int i = 0; i < 6; ++i)
            fields << QString();
    }
    return fields.join(QLatin1Char(','));
}

QString ping(quint64 number)
{
    return protocol::PingPrefix + QString::number(number);
}

QString statsHead(requests::StatsKind kind, qsizetype records, int fieldsPerRecord)
{
    return kindHead(kind) + QLatin1Char(';') + QString::number(records) + QLatin1Char('#') +
           QStringLiteral("%1").arg(fieldsPerRecord, 2, 10, QLatin1Char('0'));
}

QString callRecord(const CallRow& row)
{
    return field(row.name) + QLatin1Char(',') + formatTime(row.at) + QLatin1Char(',') +
           field(row.number);
}

QString contactRecord(const ContactRow& row)
{
    const Contact& c = row.contact;
    return QString::number(c.id) + QLatin1Char(',') + field(c.name) + QLatin1Char(',') +
           field(c.home) + QLatin1Char(',') + field(c.mobile) + QLatin1Char(',') +
           field(c.businessPhone) + QLatin1Char(',') + field(c.businessFax) + QLatin1Char(',') +
           field(c.email) + QLatin1Char(',') + QString::number(row.calls) + QLatin1Char(',') +
           QString::number(row.unrecognised);
}

QByteArray searchResult(const Contact& shown, const QList<qint64>& matches, qsizetype maxBytes)
{
    QByteArray bytes = protocol::encode(
        SearchHead + field(shown.name) + QLatin1Char(',') + field(shown.home) + QLatin1Char(',') +
        field(shown.mobile) + QLatin1Char(',') + field(shown.email) + QLatin1Char(',') +
        field(shown.businessPhone) + QLatin1Char(',') + field(shown.businessFax) +
        QLatin1Char(',') + QString::number(shown.id));
    // Written in place: a search of every contact lists 100,000 IDs.
    const qsizetype head = bytes.size();
    bytes.resize(qMin(maxBytes, head + matches.size() * 21));
    char* out = bytes.data() + head;
    char* const end = bytes.data() + bytes.size();
    for (const qint64 id : matches) {
        char digits[20];
        const std::to_chars_result number = std::to_chars(digits, digits + sizeof digits, id);
        const qsizetype length = number.ptr - digits;
        if (end - out < length + 1)
            break;
        *out++ = ',';
        out = std::copy(digits, number.ptr, out);
    }
    bytes.truncate(out - bytes.data());
    return bytes;
}

QString noMatch()
{
    return SearchHead + NoMatchWord;
}

QString saved(const QString& text)
{
    return QStringLiteral("CNTAC:SAVE;") + text;
}

QString refused(const QString& text)
{
    return QStringLiteral("CNTAC:ERRO;") + text;
}

} // namespace replies
