#include "serverdb.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace testsupport {

bool openDatabase(const QString& databasePath, bool readOnly)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(databasePath);
    if (readOnly)
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    return db.open();
}

void closeDatabase()
{
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}

QStringList dbRows(const QString& sql)
{
    QSqlQuery query(sql);
    if (!query.isActive())
        return {query.lastError().text()};
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i)
            values << query.value(i).toString();
        rows << values.join(QLatin1Char('|'));
    }
    return rows;
}

bool addContacts(const QString& databasePath, int count)
{
    const QString sql = QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
        " INSERT INTO contacts (name, home, mobile, email, business_phone, business_fax)"
        " SELECT 'Contact ' || i || ' Example', '555 01' || i, '555 02' || i,"
        " 'contact.' || i || '@example.org', '555 03' || i, '555 04' || i FROM n WHERE i <= %1");
    const QStringList error =
        openDatabase(databasePath, false) ? dbRows(sql.arg(count)) : QStringList{"not opened"};
    closeDatabase();
    if (!error.isEmpty())
        qWarning("Could not add contacts: %s", qPrintable(error.join(' ')));
    return error.isEmpty();
}

} // namespace testsupport
