#include "contacts/contactsprotocol.h"

#include "session/protocol.h"
#include "session/site.h"

#include <QStringTokenizer>
#include <limits>

namespace contacts {

namespace {

const std::array<const char*, SearchFieldCount> FieldCodes{"ALLF", "NAME", "PHON", "MOBI",
                                                           "EMAI", "BPHO", "BFAX"};

} // namespace

QString searchFieldCode(int option)
{
    if (option < 0 || option >= SearchFieldCount)
        return QString();
    return QLatin1String(FieldCodes[static_cast<size_t>(option)]);
}

QString searchRequest(const QString& fieldCode, const QString& text)
{
    return SearchPrefix + fieldCode + QLatin1Char(';') + text;
}

QString browseRequest(const QString& lastSearch, qint64 id)
{
    return lastSearch + RecordMarker + QString::number(id);
}

QString saveRequest(const QString& id, const RecordFields& fields)
{
    QString request = SavePrefix + (id.isEmpty() ? NewRecord : id);
    for (const QString& field : fields)
        request += QLatin1Char(',') + field;
    return request;
}

bool isBlank(const RecordFields& fields)
{
    for (const QString& field : fields) {
        for (const QChar c : field) {
            if (c != QLatin1Char(' '))
                return false;
        }
    }
    return true;
}

bool containsComma(const RecordFields& fields)
{
    for (const QString& field : fields) {
        if (field.contains(QLatin1Char(',')))
            return true;
    }
    return false;
}

QString newRecordId(const QString& saveText)
{
    static const QString Before = QStringLiteral("New record saved with ID ");
    if (!saveText.startsWith(Before) || !saveText.endsWith(QLatin1Char('.')))
        return QString();
    const QString id = saveText.mid(Before.size(), saveText.size() - Before.size() - 1);
    // A record ID as the browse request can carry it.
    if (id.isEmpty() || id.size() > 18 || !protocol::isAllDigits(id))
        return QString();
    return id;
}

Reply parseReply(const QString& message)
{
    Reply reply;
    if (message.startsWith(ErrorPrefix)) {
        reply.kind = Reply::Kind::Error;
        reply.text = message.mid(ErrorPrefix.size());
    } else if (message.startsWith(SavePrefix)) {
        reply.kind = Reply::Kind::Save;
        reply.text = message.mid(SavePrefix.size());
    } else if (message.startsWith(NoResultPrefix)) {
        reply.kind = Reply::Kind::NoResult;
    } else if (message.startsWith(SearchPrefix)) {
        reply.kind = Reply::Kind::Records;
        const QString payload = message.mid(SearchPrefix.size());
        // An empty payload holds no entries at all, not one empty entry.
        if (payload.isEmpty())
            return reply;
        // Walked in place: a reply may list millions of IDs, which are never all strings.
        qsizetype index = 0;
        for (const QStringView entry : QStringTokenizer(payload, QLatin1Char(','))) {
            if (index < FieldCount) {
                reply.fields.append(entry.toString());
            } else if (index == FieldCount) {
                reply.hasId = true;
                reply.id = entry.toString();
            } else {
                reply.records.append(entry);
            }
            ++index;
        }
    }
    return reply;
}

QString errorInformation(const QString& payload)
{
    return QStringLiteral("ERROR:") + CRLF + payload;
}

QString noResultInformation()
{
    return CRLF + QStringLiteral("The search found 0 records.");
}

qsizetype viewingPosition(const RecordList& records, const QString& shownId)
{
    const RecordList::Key key(shownId);
    for (qsizetype i = records.size() - 1; i >= 0; --i) {
        if (records.matches(i, key))
            return i + 1;
    }
    return 0;
}

QString recordInformation(const RecordList& records, const QString& shownId)
{
    const qsizetype position = viewingPosition(records, shownId);
    QString first;
    if (position > 0)
        first = QStringLiteral("Currently viewing no. ") + QString::number(position);
    return first + CRLF + QStringLiteral("The search found ") + QString::number(records.size()) +
           QStringLiteral(" records.");
}

RecordId parseRecordId(const QString& text)
{
    RecordId result;
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    // The magnitude may reach 2^63 for the most negative value.
    const quint64 limit =
        static_cast<quint64>(std::numeric_limits<qint64>::max()) + (negative ? 1u : 0u);
    quint64 magnitude = 0;
    bool digits = false;
    bool overflow = false;
    for (; i < t.size() && protocol::isDigit(t[i]); ++i) {
        digits = true;
        const quint64 digit = static_cast<quint64>(t[i].unicode() - '0');
        if (magnitude > (limit - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    int firstFraction = 0;
    bool restOfFraction = false;
    if (i < t.size() && t[i] == QLatin1Char('.')) {
        ++i;
        for (bool first = true; i < t.size() && protocol::isDigit(t[i]); ++i, first = false) {
            digits = true;
            const int digit = t[i].unicode() - '0';
            if (first)
                firstFraction = digit;
            else if (digit != 0)
                restOfFraction = true;
        }
    }
    if (!digits || i != t.size())
        return result;
    const bool roundUp = firstFraction > 5 || (firstFraction == 5 && restOfFraction) ||
                         (firstFraction == 5 && magnitude % 2 == 1);
    if (roundUp && !overflow) {
        if (magnitude == limit)
            overflow = true;
        else
            ++magnitude;
    }
    if (overflow) {
        result.status = RecordId::Status::OutOfRange;
        return result;
    }
    result.status = RecordId::Status::Ok;
    if (negative)
        result.value = magnitude == limit ? std::numeric_limits<qint64>::min()
                                          : -static_cast<qint64>(magnitude);
    else
        result.value = static_cast<qint64>(magnitude);
    return result;
}

BrowseTarget browseTarget(const RecordList& records, const QString& shownId, Direction direction)
{
    BrowseTarget target;
    const RecordList::Key key(shownId);
    const qsizetype count = records.size();
    qsizetype chosen = -1;
    for (qsizetype i = 0; i < count; ++i) {
        if (!records.matches(i, key))
            continue;
        if (direction == Direction::Back)
            chosen = i == 0 ? count - 1 : i - 1;
        else
            chosen = i == count - 1 ? 0 : i + 1;
    }
    if (chosen < 0) {
        target.ok = true;
        return target;
    }
    const QString entry = records.at(chosen);
    const RecordId id = parseRecordId(entry);
    switch (id.status) {
    case RecordId::Status::Ok:
        target.ok = true;
        target.id = id.value;
        break;
    case RecordId::Status::NotANumber:
        target.error = QStringLiteral("The record ID \"%1\" is not a number.").arg(entry);
        break;
    case RecordId::Status::OutOfRange:
        target.error = QStringLiteral("The record ID \"%1\" is out of range.").arg(entry);
        break;
    }
    return target;
}

QString errorReport(const QString& description, const QString& source)
{
    const QStringList lines{
        QStringLiteral("Quillora caused an error."),
        QString(),
        QStringLiteral("This function is still underconstruction and is not fully tested yet. "
                       "Please take the time to report this error at:"),
        site::productSite(),
        QStringLiteral("Go to the 'Write Me' section and enter to following message:"),
        QString(),
        QStringLiteral("ERROR MESSAGE: ") + description,
        QString(),
        QStringLiteral("SOURCE: ") + source,
    };
    return lines.join(CRLF);
}

} // namespace contacts
