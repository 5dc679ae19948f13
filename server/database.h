#pragma once

#include "searchindex.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <functional>
#include <unordered_map>

// The server's SQLite file: contacts, their numbers and the call log. WAL journal,
// prepared statements only (every statement is prepared once and reused), and every
// change that touches more than one row inside one transaction, so the file stays whole
// whenever the server is killed.
class Database final {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating if needed) the file and its tables. False with errorText() set
    // when the file cannot be used.
    bool open(const QString& path);
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }
    QString errorText() const { return m_error; }

    // A prepared statement for a fixed SQL text, prepared on first use. Values are
    // always bound, never written into the text.
    QSqlQuery& statement(const QString& sql);

    // Runs one prepared statement with the values bound in order; false (with
    // errorText() set) when it fails.
    bool exec(QSqlQuery& query, const QVariantList& values = {});

    // Runs work inside one transaction: committed when it returns true, rolled back
    // when it returns false or the commit fails. Called inside another transaction's
    // work, it just runs the work as part of that transaction.
    bool transaction(const std::function<bool()>& work);

    // A text value to bind: never NULL, since every text column is NOT NULL (Qt binds
    // a null QString as NULL).
    static QVariant text(const QString& value);

    // The contact search's in-memory index, shared by everything that uses this
    // database. Emptied when a transaction is rolled back or another process has
    // changed the file, so it is rebuilt before the next search.
    SearchIndex& searchIndex();

    // The default file: "quillora-server.sqlite" in the user's data folder.
    static QString defaultPath();

private:
    bool createSchema();
    bool pragma(const QString& sql, QString* value = nullptr);
    void fail(const QString& what, const QSqlQuery& query);

    QString m_connection;
    QString m_path;
    QString m_error;
    bool m_open = false;
    int m_transactionDepth = 0;
    SearchIndex m_index;
    qint64 m_dataVersion = -1;
    // Node-based, so the references statement() hands out stay valid as it grows.
    std::unordered_map<QString, QSqlQuery> m_statements;
};
