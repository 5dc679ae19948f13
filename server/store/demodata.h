#pragma once

#include "calllog.h"
#include "contactstore.h"
#include "database.h"

#include <QDateTime>

// A realistic sample for an empty database: about sixty contacts with names, phone
// numbers and e-mail addresses, and a few hundred calls over the last four weeks, a
// quarter of them from numbers no contact has. The same seed gives the same sample.
namespace demodata {

struct Summary {
    enum class Outcome { Added, NotEmpty, Failed };
    Outcome outcome = Outcome::Failed;
    int contacts = 0;
    int calls = 0;
};

// Adds the sample in one transaction, only to a database that holds no contacts and no
// calls. A failed write leaves the database as it was (see Database::errorText()).
Summary fill(Database& db, const QDateTime& now = QDateTime::currentDateTime(),
             quint32 seed = 20240501);

// Numbers that belong to no demo contact, for simulated unknown callers.
QStringList unknownNumbers();

} // namespace demodata
