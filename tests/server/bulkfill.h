#pragma once

// Fills a server's database in one statement each, for tests that need many records or
// large ones: contacts written as an older server, which took fields of any length, could
// have stored them. Only the contacts and calls tables; no phone numbers to look up.

#include "database.h"

#include <QDateTime>
#include <QVariant>

namespace bulkfill {

// Adds contacts named "Contact 1" to "Contact <count>" after those there are, the
// other five fields each `fieldLength` times "x".
inline bool addContacts(Database& db, int count, int fieldLength = 0)
{
    const QString repeated = db.kind() == StoreLocation::Kind::SQLite
                                 ? QStringLiteral("replace(hex(zeroblob(?)), '00', 'x')")
                                 : QStringLiteral("repeat('x', ?)");
    QSqlQuery& query = db.statement(
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?)"
            " INSERT INTO contacts (name, home, mobile, email, business_phone, business_fax)"
            " SELECT 'Contact ' || i, f, f, f, f, f FROM n, (SELECT ") +
        repeated + QStringLiteral(" AS f) AS fields"));
    return db.transaction([&] { return db.exec(query, {count, fieldLength}); });
}

// Adds `count` calls from unknown numbers ("555-1" and on), all at the same time.
inline bool addCalls(Database& db, int count, const QDateTime& at)
{
    QSqlQuery& query = db.statement(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?)"
                       " INSERT INTO calls (at, number, digits)"
                       " SELECT CAST(? AS BIGINT), '555-' || i, '555' || i FROM n"));
    return db.transaction([&] { return db.exec(query, {count, at.toMSecsSinceEpoch()}); });
}

} // namespace bulkfill
