#pragma once

#include <QString>

// Where the server keeps its data, as --db names it: a PostgreSQL database given as
// postgresql://user@host[:port]/dbname, or else the path of an SQLite file. The URL never
// holds the database password; that comes from a file or the environment.
struct StoreLocation {
    enum class Kind { SQLite, PostgreSQL };
    Kind kind = Kind::SQLite;
    QString path; // SQLite
    QString user; // PostgreSQL; empty: libpq's default
    QString host;
    int port = 5432;
    QString database;

    // What --db gave. False, with why in *error (never holding a password), for a
    // PostgreSQL URL that is not of the form above.
    static bool parse(const QString& text, StoreLocation* location, QString* error);
    static bool isPostgreSqlUrl(const QString& text);

    // The location for the log: the path, or the URL without a password.
    QString display() const;
};
