#pragma once

// The store the server tests run against: an SQLite file in the test's folder, or, when
// QUILLORA_TEST_STORE=postgresql, a new database of the private PostgreSQL server.

#include "answers.h"
#include "postgrescluster.h"

#include <QTemporaryDir>
#include <QTest>

namespace teststore {

inline bool postgres()
{
    return qEnvironmentVariable("QUILLORA_TEST_STORE") == QLatin1String("postgresql");
}

// What --db takes for a new, empty store: the file in the folder, or a new database (named
// after this process, as other programs take theirs from the same server).
inline QString location(const QTemporaryDir& dir, const QString& file)
{
    if (!postgres())
        return dir.filePath(file);
    QString error;
    PostgresCluster* cluster = PostgresCluster::shared(&error);
    static int counter = 0;
    const QString name =
        QStringLiteral("test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    if (cluster && cluster->createDatabase(name, &error))
        return cluster->url(name);
    qWarning("%s", qPrintable(error));
    return QString();
}

} // namespace teststore

struct DataFixture {
    QTemporaryDir dir;
    Database db;
    ContactStore contacts{db};
    CallLog calls{db};

    bool open() { return db.open(teststore::location(dir, QStringLiteral("data.sqlite"))); }
    // The answer as text ("<none>" for a message that gets none).
    QString ask(const QString& request, qsizetype maxBytes = replies::MaxReplyBytes)
    {
        return answers::answer(request, contacts, calls, maxBytes).value_or("<none>");
    }
};
