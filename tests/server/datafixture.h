#pragma once

// A fresh server database (see teststore.h), with the stores the answers read and write,
// for tests that ask the answers directly.

#include "answers.h"
#include "teststore.h"

#include <QTemporaryDir>
#include <QTest>

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
