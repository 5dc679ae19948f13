#include "calllog.h"

#include "contact.h"

#include <QVariant>

bool CallLog::add(const QDateTime& at, const QString& number, std::optional<qint64> contactId,
                  const QString& called)
{
    QSqlQuery& query = m_db.statement(QStringLiteral(
        "INSERT INTO calls (at, number, digits, contact_id, called) VALUES (?, ?, ?, ?, ?)"));
    const QVariant contact =
        contactId ? QVariant(*contactId) : QVariant(QMetaType(QMetaType::LongLong));
    return m_db.exec(query, {at.toMSecsSinceEpoch(), Database::text(number),
                             Database::text(digitsOnly(number)), contact, Database::text(called)});
}

bool CallLog::readNewest(QList<replies::CallRow>& rows, int count, bool unknownOnly,
                         const QString& condition, QVariantList values)
{
    // The newest first: by time, calls of the same second in the order they were logged.
    // "+contact_id" keeps the unknown calls' index out of it: walking the time index finds
    // the newest at once, where that index would have every unknown call sorted first.
    const QString from = unknownOnly ? QStringLiteral("SELECT id, at, number, NULL FROM calls"
                                                      " WHERE +contact_id IS NULL")
                                     : QStringLiteral("SELECT calls.id, calls.at, calls.number,"
                                                      " contacts.name FROM calls"
                                                      " LEFT JOIN contacts ON contacts.id ="
                                                      " calls.contact_id WHERE 1 = 1");
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

bool CallLog::addCounts(const QString& sql, qint64 from, qint64 to, QHash<qint64, qint64>& counts)
{
    QSqlQuery& query = m_db.statement(sql);
    if (!m_db.exec(query, {from, to}))
        return false;
    while (query.next())
        counts[query.value(0).toLongLong()] += query.value(1).toLongLong();
    query.finish();
    return true;
}

qint64 CallLog::countAfter(qint64 afterId, int limit, QHash<qint64, qint64>& known,
                           QHash<qint64, qint64>& unrecognised)
{
    QSqlQuery& end = m_db.statement(QStringLiteral(
        "SELECT max(id) FROM (SELECT id FROM calls WHERE id > ? ORDER BY id LIMIT ?) AS slice"));
    if (!m_db.exec(end, {afterId, limit}))
        return -1;
    const qint64 last = end.next() ? end.value(0).toLongLong() : 0; // NULL: none
    end.finish();
    if (last <= 0)
        return 0;
    const bool counted =
        addCounts(QStringLiteral("SELECT contact_id, count(*) FROM calls WHERE id > ? AND id <= ?"
                                 " AND contact_id IS NOT NULL GROUP BY contact_id"),
                  afterId, last, known) &&
        // A contact with two numbers of the same digits counts such a call once.
        addCounts(QStringLiteral("SELECT contact_id, count(*) FROM"
                                 " (SELECT DISTINCT numbers.contact_id AS contact_id, calls.id"
                                 "  FROM calls JOIN contact_numbers AS numbers"
                                 "  ON numbers.digits = calls.digits"
                                 "  WHERE calls.id > ? AND calls.id <= ?"
                                 "  AND calls.contact_id IS NULL AND calls.digits <> '') AS matched"
                                 " GROUP BY contact_id"),
                  afterId, last, unrecognised);
    return counted ? last : -1;
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
