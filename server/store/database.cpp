#include "database.h"

#include "session/privatefolder.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QStandardPaths>
#include <QVariant>
#include <algorithm>

#include "schema.h"
#include "serverlog.h"

namespace {

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("quillora-server-%1").arg(++counter);
}

constexpr QFileDevice::Permissions PrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

Database::Database() : m_connection(nextConnectionName())
{
    m_retry.setSingleShot(true);
    QObject::connect(&m_retry, &QTimer::timeout, [this] { reconnect(); });
}

Database::~Database()
{
    m_notifications.reset();
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

bool Database::open(const QString& location, const QString& password)
{
    m_path = location;
    if (!StoreLocation::parse(location, &m_location, &m_error))
        return false;
    m_open =
        m_location.kind == StoreLocation::Kind::SQLite ? openSqlite() : openPostgreSql(password);
    return m_open;
}

bool Database::openSqlite()
{
    const QString& path = m_path;
    const QFileInfo info(path);
    if (!makePrivateFolder(info.absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder %1.").arg(info.absolutePath());
        return false;
    }
    // A new file is the server's user's alone, whatever the umask of whoever started it
    // (SQLite gives its journal files the same mode). An existing file keeps its mode.
    if (!info.exists() && path != QLatin1String(":memory:"))
        QFile(path).open(QIODevice::WriteOnly | QIODevice::NewOnly, PrivateFile);
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
    QString version;
    return pragma(QStringLiteral("PRAGMA synchronous = NORMAL")) &&
           pragma(QStringLiteral("PRAGMA foreign_keys = ON")) &&
           pragma(QStringLiteral("PRAGMA cache_size = -65536")) &&
           pragma(QStringLiteral("PRAGMA user_version"), &version) &&
           createSchema(schema::sqlite(version.toInt()));
}

bool Database::openPostgreSql(const QString& password)
{
    const QString driver = QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        m_error = QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed; on Debian it "
                                 "comes with the package libqt6sql6-psql.");
        return false;
    }
    m_password = password;
    return connectPostgreSql();
}

bool Database::connectPostgreSql()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
    db.setHostName(m_location.host);
    db.setPort(m_location.port);
    db.setDatabaseName(m_location.database);
    if (!m_location.user.isEmpty())
        db.setUserName(m_location.user);
    db.setConnectOptions(QStringLiteral("connect_timeout=10;application_name=quillora-server;") +
                         m_location.connectOptions());
    if (!m_password.isEmpty())
        db.setPassword(m_password);
    const bool opened = db.open();
    db.setPassword(QString()); // the driver keeps it no longer than needed
    if (!opened) {
        m_error = QStringLiteral("Cannot open %1: %2")
                      .arg(m_location.display(), db.lastError().text().trimmed());
        return false;
    }
    // Not "relation already exists, skipping" for every table on every start.
    if (!execute(QStringLiteral("SET client_min_messages = warning")) ||
        (!m_open && !createSchema(schema::postgresql())))
        return false;
    QSqlQuery& backend = statement(QStringLiteral("SELECT pg_backend_pid()"));
    if (!exec(backend) || !backend.next())
        return false;
    const qint64 pid = backend.value(0).toLongLong();
    backend.finish();
    m_notifications = std::make_unique<StoreNotifications>();
    m_notifications->contactsChanged = [this] { m_index.clear(); };
    m_notifications->callRung = m_callListener;
    if (!m_notifications->listen(db.driver(), pid, &m_error)) {
        m_notifications.reset();
        return false;
    }
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

bool Database::createSchema(const QStringList& statements)
{
    return transaction([&] {
        for (const QString& sql : statements) {
            QSqlQuery query(QSqlDatabase::database(m_connection, false));
            if (!query.exec(sql)) {
                fail(QStringLiteral("Cannot create the tables"), query);
                return false;
            }
        }
        return true;
    });
}

QSqlQuery& Database::statement(const QString& sql)
{
    if (away())
        return m_unprepared; // exec() refuses it
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        // PostgreSQL's rows come whole: read one at a time, a result left unread keeps the
        // connection busy, and the notifications that come in meanwhile are not handed on.
        query.setForwardOnly(m_location.kind == StoreLocation::Kind::SQLite);
        if (!query.prepare(sql))
            fail(QStringLiteral("Cannot prepare \"%1\"").arg(sql), query);
        it = m_statements.emplace(sql, query).first;
    }
    return it->second;
}

bool Database::exec(QSqlQuery& query, const QVariantList& values)
{
    if (away())
        return false;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (m_notifications)
        m_notifications->checkSoon();
    if (query.exec())
        return true;
    fail(QStringLiteral("Database statement failed"), query);
    return false;
}

bool Database::execute(const QString& sql)
{
    if (away())
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    fail(QStringLiteral("Database statement failed"), query);
    return false;
}

bool Database::transaction(const std::function<bool()>& work)
{
    if (m_transactionDepth > 0)
        return work();
    m_error.clear();
    if (away())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) {
        m_error = QStringLiteral("Cannot begin a transaction: %1").arg(db.lastError().text());
        connectionGone(db.lastError());
        return false;
    }
    ++m_transactionDepth;
    const bool done = work();
    --m_transactionDepth;
    if (m_notifications)
        m_notifications->checkSoon();
    if (done && !m_away && db.commit())
        return true;
    if (m_error.isEmpty()) {
        m_error = db.lastError().text();
        connectionGone(db.lastError());
    }
    if (!m_away)
        db.rollback();
    m_index.clear(); // it may hold what was just undone
    return false;
}

SearchIndex& Database::searchIndex()
{
    // PostgreSQL: the other servers' notifications clear it.
    if (m_location.kind != StoreLocation::Kind::SQLite)
        return m_index;
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
    connectionGone(query.lastError());
}

bool Database::connectionGone(const QSqlError& error)
{
    if (m_location.kind == StoreLocation::Kind::SQLite || m_away || m_reconnecting ||
        error.type() == QSqlError::NoError)
        return m_away;
    // The driver closes itself when it finds the connection closed (then its error says
    // nothing); else it reports a failed statement, with the server's reason (shutdown:
    // SQLSTATE 57P01...) or libpq's own (no SQLSTATE). A statement that merely failed
    // leaves the connection working, so the plainest one tells them apart.
    const auto lostLike = [](const QSqlError& e) {
        const QString code = e.nativeErrorCode();
        return e.type() == QSqlError::ConnectionError || code.isEmpty() ||
               code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P"));
    };
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (db.isOpen()) {
        if (!lostLike(error))
            return false;
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("SELECT 1")) || !lostLike(probe.lastError()))
            return false;
    }
    lose(error.text().simplified());
    return true;
}

void Database::lose(const QString& reason)
{
    m_away = true;
    ++m_outages;
    m_retryMs = 0;
    serverlog::write(
        QStringLiteral("Lost the database: %1; reconnecting.")
            .arg(reason.isEmpty() ? QStringLiteral("the connection was closed") : reason));
    m_retry.start(0); // once the statements that failed have finished with their queries
}

bool Database::away()
{
    if (m_reconnecting || m_location.kind == StoreLocation::Kind::SQLite)
        return false;
    // Found closed while idle: the driver closes itself on reading the end of the connection.
    if (!m_away && m_open && !QSqlDatabase::database(m_connection, false).isOpen())
        lose(QString());
    if (!m_away)
        return false;
    m_error = QStringLiteral("The database is away; reconnecting.");
    return true;
}

void Database::reconnect()
{
    drop();
    m_reconnecting = true;
    const bool back = connectPostgreSql();
    m_reconnecting = false;
    if (back) {
        m_away = false;
        m_index.clear(); // other servers' changes meanwhile went unheard
        serverlog::write(QStringLiteral("Database back."));
        return;
    }
    drop();
    m_retryMs = m_retryMs == 0 ? 1000 : std::min(m_retryMs * 2, 30000);
    m_retry.start(m_retryMs);
}

void Database::drop()
{
    m_notifications.reset();
    // The driver goes first: its prepared statements went with the connection, and the
    // queries would warn of failing to free them on it.
    QSqlDatabase::removeDatabase(m_connection);
    m_statements.clear();
}

QString Database::numbersStoredOrder() const
{
    return m_location.kind == StoreLocation::Kind::SQLite ? QStringLiteral("rowid")
                                                          : QStringLiteral("id");
}

bool Database::notify(const char* channel, const QString& payload)
{
    if (!m_notifications)
        return true;
    QSqlQuery& query = statement(QStringLiteral("SELECT pg_notify(?, ?)"));
    const bool sent = exec(query, {QString::fromLatin1(channel), text(payload)});
    query.finish();
    return sent;
}

bool Database::tellContactsChanged()
{
    return !m_notifications ||
           notify(StoreNotifications::ContactsChannel, m_notifications->contactsPayload());
}

bool Database::tellCallRung(const QDateTime& at, const QString& number)
{
    if (!m_notifications)
        return true;
    const QString payload = m_notifications->callPayload(at, number);
    // Too long for a notification: logged, and announced by this server alone.
    if (payload.toUtf8().size() >= StoreNotifications::MaxPayloadBytes)
        return true;
    return notify(StoreNotifications::CallsChannel, payload);
}

void Database::setCallListener(
    std::function<void(const QDateTime& at, const QString& number)> listener)
{
    m_callListener = std::move(listener);
    if (m_notifications)
        m_notifications->callRung = m_callListener;
}
