#include "database.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QStandardPaths>
#include <QVariant>

namespace {

// Version 1 of the file's tables. contact_numbers holds each contact's phone numbers,
// as stored and as digits only, for looking up calls.
const char* const Schema[] = {
    "CREATE TABLE IF NOT EXISTS contacts ("
    " id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL DEFAULT '', home TEXT NOT NULL DEFAULT '',"
    " mobile TEXT NOT NULL DEFAULT '', email TEXT NOT NULL DEFAULT '',"
    " business_phone TEXT NOT NULL DEFAULT '', business_fax TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS contact_numbers ("
    " contact_id INTEGER NOT NULL REFERENCES contacts(id) ON DELETE CASCADE,"
    " number TEXT NOT NULL, digits TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS contact_numbers_by_number ON contact_numbers(number)",
    "CREATE INDEX IF NOT EXISTS contact_numbers_by_digits ON contact_numbers(digits)",
    "CREATE INDEX IF NOT EXISTS contact_numbers_by_contact ON contact_numbers(contact_id)",
    "CREATE TABLE IF NOT EXISTS calls ("
    " id INTEGER PRIMARY KEY,"
    " at INTEGER NOT NULL,"
    " number TEXT NOT NULL, digits TEXT NOT NULL,"
    " contact_id INTEGER REFERENCES contacts(id) ON DELETE SET NULL)",
    "CREATE INDEX IF NOT EXISTS calls_by_time ON calls(at)",
    "CREATE INDEX IF NOT EXISTS calls_by_contact ON calls(contact_id)",
    "CREATE INDEX IF NOT EXISTS calls_unknown_by_digits ON calls(digits)"
    " WHERE contact_id IS NULL",
    "PRAGMA user_version = 1",
};

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("quillora-server-%1").arg(++counter);
}

} // namespace

Database::Database() : m_connection(nextConnectionName()) {}

Database::~Database()
{
    m_statements.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

QVariant Database::text(const QString& value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

QString Database::defaultPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(folder).filePath(QStringLiteral("Quillora/quillora-server.sqlite"));
}

bool Database::open(const QString& path)
{
    m_path = path;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder %1.").arg(info.absolutePath());
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    if (!db.open()) {
        m_error = QStringLiteral("Cannot open %1: %2").arg(path, db.lastError().text());
        return false;
    }
    QString mode;
    if (!pragma(QStringLiteral("PRAGMA busy_timeout = 5000")) ||
        !pragma(QStringLiteral("PRAGMA journal_mode = WAL"), &mode))
        return false;
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        m_error =
            QStringLiteral("%1 cannot use a write-ahead log (journal mode %2).").arg(path, mode);
        return false;
    }
    // In WAL mode NORMAL keeps every committed transaction when the process is killed;
    // only a power loss could cost the last ones, never the file's integrity.
    if (!pragma(QStringLiteral("PRAGMA synchronous = NORMAL")) ||
        !pragma(QStringLiteral("PRAGMA foreign_keys = ON")) ||
        !pragma(QStringLiteral("PRAGMA cache_size = -65536")) || !createSchema())
        return false;
    m_open = true;
    return true;
}

bool Database::pragma(const QString& sql, QString* value)
{
    QSqlQuery& query = statement(sql);
    if (!exec(query))
        return false;
    if (value && query.next())
        *value = query.value(0).toString();
    query.finish();
    return true;
}

bool Database::createSchema()
{
    return transaction([this] {
        for (const char* sql : Schema) {
            QSqlQuery query(QSqlDatabase::database(m_connection, false));
            if (!query.prepare(QString::fromLatin1(sql)) || !query.exec()) {
                fail(QStringLiteral("Cannot create the tables"), query);
                return false;
            }
        }
        return true;
    });
}

QSqlQuery& Database::statement(const QString& sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            fail(QStringLiteral("Cannot prepare \"%1\"").arg(sql), query);
        it = m_statements.emplace(sql, query).first;
    }
    return it->second;
}

bool Database::exec(QSqlQuery& query, const QVariantList& values)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (query.exec())
        return true;
    fail(QStringLiteral("Database statement failed"), query);
    return false;
}

bool Database::transaction(const std::function<bool()>& work)
{
    if (m_transactionDepth > 0)
        return work();
    m_error.clear();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) {
        m_error = QStringLiteral("Cannot begin a transaction: %1").arg(db.lastError().text());
        return false;
    }
    ++m_transactionDepth;
    const bool done = work();
    --m_transactionDepth;
    if (done && db.commit())
        return true;
    if (m_error.isEmpty())
        m_error = db.lastError().text();
    db.rollback();
    m_index.clear(); // it may hold what was just undone
    return false;
}

SearchIndex& Database::searchIndex()
{
    // Another process's commit changes the data version; this connection's own do not.
    QSqlQuery& query = statement(QStringLiteral("PRAGMA data_version"));
    if (exec(query) && query.next()) {
        const qint64 version = query.value(0).toLongLong();
        if (version != m_dataVersion)
            m_index.clear();
        m_dataVersion = version;
    }
    query.finish();
    return m_index;
}

void Database::fail(const QString& what, const QSqlQuery& query)
{
    m_error = what + QStringLiteral(": ") + query.lastError().text();
}
