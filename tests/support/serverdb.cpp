#include "serverdb.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace testsupport {

bool openDatabase(const QString& databasePath)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(databasePath);
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
    const QString name = QStringLiteral("seed-contacts");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databasePath);
        QSqlQuery insert(db);
        ok = db.open() && db.transaction() &&
             insert.prepare(QStringLiteral("INSERT INTO contacts (name, home, mobile, email,"
                                           " business_phone, business_fax)"
                                           " VALUES (?, ?, ?, ?, ?, ?)"));
        for (int i = 1; ok && i <= count; ++i) {
            const QString n = QString::number(i);
            for (const QString& value :
                 {"Contact " + n + " Example", "555 01" + n, "555 02" + n,
                  "contact." + n + "@example.org", "555 03" + n, "555 04" + n})
                insert.addBindValue(value);
            ok = insert.exec();
        }
        ok = ok && db.commit();
        if (!ok)
            qWarning("Could not add contacts: %s", qPrintable(db.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace testsupport
