#pragma once

// A server's database file, read and filled directly by the tests.

#include <QString>
#include <QStringList>

namespace testsupport {

// Opens the file as the default SQL connection (for dbRows), read-only unless the server is
// stopped; closeDatabase() removes it again.
bool openDatabase(const QString& databasePath, bool readOnly = true);
void closeDatabase();

// The rows of a statement on the default connection, each row's values joined by "|"; the
// error text alone when it failed.
QStringList dbRows(const QString& sql);

// Adds contacts "Contact <i> Example", i = 1..count (some 100 bytes each in a contact-list
// reply) to the file of a server that created it and is not running, as the default connection.
bool addContacts(const QString& databasePath, int count);

} // namespace testsupport
