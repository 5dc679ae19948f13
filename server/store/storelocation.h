#pragma once

#include <QString>

// Where the server keeps its data, as --db names it: a PostgreSQL database given as
// postgresql://user@host[:port]/dbname[?sslmode=MODE&sslrootcert=FILE], or else the path of
// an SQLite file. The host may be the folder of the database server's Unix socket, written
// with its slashes as %2F. The URL never holds the database password; that comes from a
// file or the environment.
struct StoreLocation {
    enum class Kind { SQLite, PostgreSQL };
    Kind kind = Kind::SQLite;
    QString path; // SQLite
    QString user; // PostgreSQL; empty: libpq's default
    QString host; // a name or address, or a socket folder (beginning with "/")
    int port = 5432;
    QString database;
    // How the link is encrypted, as libpq's sslmode: the URL's, else verify-full for a
    // remote host and prefer on this machine (loopback or a Unix socket).
    QString sslMode;
    QString sslRootCert; // the certificate authorities to check against; empty: libpq's own

    // What --db gave. False, with why in *error (never holding a password), for a
    // PostgreSQL URL that is not of the form above.
    static bool parse(const QString& text, StoreLocation* location, QString* error);
    static bool isPostgreSqlUrl(const QString& text);

    // The location for the log: the path, or the URL without a password.
    QString display() const;
    // PostgreSQL: the link's settings as Qt's driver takes them (its connect options).
    QString connectOptions() const;
};
