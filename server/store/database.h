#pragma once

#include "searchindex.h"
#include "storelocation.h"
#include "storenotifications.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <unordered_map>

// The server's data: contacts, their numbers and the call log, in an SQLite file (WAL
// journal) or a PostgreSQL database that several servers may share. Prepared statements
// only (every statement is prepared once and reused), and every change that touches more
// than one row inside one transaction, so the data stays whole whenever the server is
// killed. The statements are written so that both databases understand them; where the
// two differ, the difference stays in here.
class Database final {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating if needed) the file or database named as --db names it (see
    // StoreLocation) and its tables; the password is for PostgreSQL only (empty: libpq's
    // own ways). False with errorText() set when it cannot be used.
    bool open(const QString& location, const QString& password = QString());
    StoreLocation::Kind kind() const { return m_location.kind; }
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }
    QString errorText() const { return m_error; }

    // A prepared statement for a fixed SQL text, prepared on first use. Values are
    // always bound, never written into the text.
    QSqlQuery& statement(const QString& sql);

    // Runs one prepared statement with the values bound in order; false (with
    // errorText() set) when it fails.
    bool exec(QSqlQuery& query, const QVariantList& values = {});

    // Runs a statement once, unprepared, as statements that cannot be prepared (such as
    // PostgreSQL's DDL) need; false (with errorText() set) when it fails.
    bool execute(const QString& sql);

    // Runs work inside one transaction: committed when it returns true, rolled back
    // when it returns false or the commit fails. Called inside another transaction's
    // work, it just runs the work as part of that transaction.
    bool transaction(const std::function<bool()>& work);

    // A text value to bind: never NULL, since every text column is NOT NULL (Qt binds
    // a null QString as NULL).
    static QVariant text(const QString& value);

    // The contact search's in-memory index, shared by everything that uses this
    // database. Emptied when a transaction is rolled back or another process has
    // changed the contacts, so it is rebuilt before the next search.
    SearchIndex& searchIndex();

    // The column that orders contact_numbers as they were stored.
    QString numbersStoredOrder() const;

    // For other servers on the same PostgreSQL database (nothing to do for SQLite), called
    // inside the transaction that writes the change: contacts changed, or a call rang.
    bool tellContactsChanged();
    bool tellCallRung(const QDateTime& at, const QString& number);
    // Called for a call rung on another server, from the event loop.
    void setCallListener(std::function<void(const QDateTime& at, const QString& number)> listener);

    // PostgreSQL only: true from a statement finding the connection gone until it is
    // open again. Meanwhile every statement fails at once and the connection is reopened
    // in the background, with a growing pause between tries. outages() counts the losses.
    bool isAway() const { return m_away; }
    quint64 outages() const { return m_outages; }

    // The default file: "quillora-server.sqlite" in the user's data folder.
    static QString defaultPath();

private:
    bool openSqlite();
    bool openPostgreSql(const QString& password);
    bool connectPostgreSql();
    bool connectionGone(const QSqlError& error);
    bool away();
    void lose(const QString& reason);
    void reconnect();
    void drop();
    bool notify(const char* channel, const QString& payload);
    bool createSchema(const QStringList& statements);
    bool pragma(const QString& sql, QString* value = nullptr);
    void fail(const QString& what, const QSqlQuery& query);

    QString m_connection;
    QString m_path;
    StoreLocation m_location;
    std::unique_ptr<StoreNotifications> m_notifications; // PostgreSQL only
    QString m_error;
    bool m_open = false;
    QString m_password; // PostgreSQL: needed again to reconnect
    bool m_away = false;
    bool m_reconnecting = false;
    quint64 m_outages = 0;
    int m_retryMs = 0;
    QTimer m_retry;
    std::function<void(const QDateTime& at, const QString& number)> m_callListener;
    int m_transactionDepth = 0;
    SearchIndex m_index;
    qint64 m_dataVersion = -1;
    // Node-based, so the references statement() hands out stay valid as it grows.
    std::unordered_map<QString, QSqlQuery> m_statements;
    QSqlQuery m_unprepared; // handed out while the database is away
};
