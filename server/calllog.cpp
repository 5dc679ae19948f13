#include "calllog.h"

#include "contact.h"

#include <QVariant>

bool CallLog::add(const QDateTime& at, const QString& number, std::optional<qint64> contactId)
{
    QSqlQuery& query = m_db.statement(
        QStringLiteral("INSERT INTO calls (at, number, digits, contact_id) VALUES (?, ?, ?, ?)"));
    const QVariant contact =
        contactId ? QVariant(*contactId) : QVariant(QMetaType(QMetaType::LongLong));
    return m_db.exec(query, {at.toMSecsSinceEpoch(), Database::text(number),
                             Database::text(digitsOnly(number)), contact});
}

bool CallLog::readNewest(QList<replies::CallRow>& rows, int count, bool unknownOnly,
                         const QString& condition, QVariantList values)
{
    // The newest first: by time, calls of the same second in the order they were logged.
    const QString from = unknownOnly ? QStringLiteral("SELECT id, at, number, NULL FROM calls"
                                                      " WHERE contact_id IS NULL")
                                     : QStringLiteral("SELECT calls.id, calls.at, calls.number,"
                                                      " contacts.name FROM calls"
                                                      " LEFT JOIN contacts ON contacts.id ="
                                                      " calls.contact_id WHERE 1");
    QSqlQuery& query = m_db.statement(
        from + condition + QStringLiteral(" ORDER BY calls.at DESC, calls.id DESC LIMIT ?"));
    if (!m_db.exec(query, values << count))
        return false;
    while (query.next()) {
        replies::CallRow row;
        row.id = query.value(0).toLongLong();
        row.at = QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong());
        row.number = query.value(2).toString();
        row.name = query.value(3).isNull() ? QStringLiteral("Unknown") : query.value(3).toString();
        rows.append(row);
    }
    query.finish();
    return true;
}

QList<replies::CallRow> CallLog::newest(int count, bool unknownOnly, const replies::CallRow* after)
{
    QList<replies::CallRow> rows;
    if (!after) {
        readNewest(rows, count, unknownOnly, QString(), {});
        return rows;
    }
    // The rest of the last call's second, then the seconds before it: two searches of the
    // index by time that begin where the last part ended, however many calls share a second.
    const qint64 at = after->at.toMSecsSinceEpoch();
    if (readNewest(rows, count, unknownOnly, QStringLiteral(" AND calls.at = ? AND calls.id < ?"),
                   {at, after->id}) &&
        rows.size() < count)
        readNewest(rows, int(count - rows.size()), unknownOnly, QStringLiteral(" AND calls.at < ?"),
                   {at});
    return rows;
}

QHash<qint64, qint64> CallLog::countsByContact()
{
    QHash<qint64, qint64> counts;
    QSqlQuery& query = m_db.statement(
        QStringLiteral("SELECT contact_id, count(*) FROM calls WHERE contact_id IS NOT NULL"
                       " GROUP BY contact_id"));
    if (!m_db.exec(query))
        return counts;
    while (query.next())
        counts.insert(query.value(0).toLongLong(), query.value(1).toLongLong());
    query.finish();
    return counts;
}

QHash<qint64, qint64> CallLog::unrecognisedCountsByContact()
{
    QHash<qint64, qint64> counts;
    QSqlQuery& query = m_db.statement(
        QStringLiteral("SELECT numbers.contact_id, sum(unknown.calls) FROM"
                       " (SELECT digits, count(*) AS calls FROM calls WHERE contact_id IS NULL"
                       "  AND digits <> '' GROUP BY digits) AS unknown"
                       " JOIN (SELECT DISTINCT contact_id, digits FROM contact_numbers) AS numbers"
                       " ON numbers.digits = unknown.digits GROUP BY numbers.contact_id"));
    if (!m_db.exec(query))
        return counts;
    while (query.next())
        counts.insert(query.value(0).toLongLong(), query.value(1).toLongLong());
    query.finish();
    return counts;
}

qint64 CallLog::count()
{
    QSqlQuery& query = m_db.statement(QStringLiteral("SELECT count(*) FROM calls"));
    qint64 n = 0;
    if (m_db.exec(query) && query.next())
        n = query.value(0).toLongLong();
    query.finish();
    return n;
}
