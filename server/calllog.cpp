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

QList<replies::CallRow> CallLog::newest(int count, bool unknownOnly)
{
    QList<replies::CallRow> rows;
    QSqlQuery& query =
        unknownOnly
            ? m_db.statement(
                  QStringLiteral("SELECT at, number, NULL FROM calls WHERE contact_id IS NULL"
                                 " ORDER BY at DESC, id DESC LIMIT ?"))
            : m_db.statement(QStringLiteral(
                  "SELECT calls.at, calls.number, contacts.name, calls.contact_id FROM calls"
                  " LEFT JOIN contacts ON contacts.id = calls.contact_id"
                  " ORDER BY calls.at DESC, calls.id DESC LIMIT ?"));
    if (!m_db.exec(query, {count}))
        return rows;
    while (query.next()) {
        replies::CallRow row;
        row.at = QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong());
        row.number = query.value(1).toString();
        row.name = query.value(2).isNull() ? QStringLiteral("Unknown") : query.value(2).toString();
        rows.append(row);
    }
    query.finish();
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

QHash<QString, qint64> CallLog::unknownCountsByDigits()
{
    QHash<QString, qint64> counts;
    QSqlQuery& query =
        m_db.statement(QStringLiteral("SELECT digits, count(*) FROM calls WHERE contact_id IS NULL"
                                      " AND digits <> '' GROUP BY digits"));
    if (!m_db.exec(query))
        return counts;
    while (query.next())
        counts.insert(query.value(0).toString(), query.value(1).toLongLong());
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
