#pragma once

// The store the server tests run against: an SQLite file in the test's folder, or, when
// QUILLORA_TEST_STORE=postgresql, a fresh database of a private PostgreSQL server.

#include "postgrescluster.h"

#include <QAtomicInteger>
#include <QTemporaryDir>
#include <QTest>

namespace teststore {

inline bool postgres()
{
    return qEnvironmentVariable("QUILLORA_TEST_STORE") == QLatin1String("postgresql");
}

// Why the chosen store cannot be used here; empty when it can.
inline QString unavailable()
{
    if (!postgres())
        return QString();
    QString why;
    PostgresCluster::shared(&why);
    return why;
}

// What --db takes for a new, empty store: the file in the folder, or a new database.
inline QString location(const QTemporaryDir& dir, const QString& file)
{
    if (!postgres())
        return dir.filePath(file);
    QString error;
    PostgresCluster* cluster = PostgresCluster::shared(&error);
    if (!cluster)
        return QString();
    static QAtomicInteger<int> counter;
    const QString name = QStringLiteral("test_%1").arg(++counter);
    if (!cluster->createDatabase(name, &error)) {
        qWarning("%s", qPrintable(error));
        return QString();
    }
    return cluster->url(name);
}

} // namespace teststore

// Skips the test where the store it was asked to run against is missing.
#define QUILLORA_SKIP_WITHOUT_STORE()                                                              \
    do {                                                                                           \
        const QString why = teststore::unavailable();                                              \
        if (!why.isEmpty())                                                                        \
            QSKIP(qPrintable(why));                                                                \
    } while (false)
