#pragma once

// A server's database file, read and filled directly by the tests.

#include <QString>
#include <QStringList>

namespace testsupport {

// Opens the file read-only as the default SQL connection (for dbRows); closeDatabase()
// removes that connection again.
bool openDatabase(const QString& databasePath);
void closeDatabase();

// The rows of a query on the default connection, each row's values joined by "|"; the
// error text alone when the query failed.
QStringList dbRows(const QString& sql);

// Adds contacts "Contact <i> Example" for i = 1..count, each with four phone numbers and
// an e-mail address (about 100 bytes per record of a contact-list reply), in one
// transaction, for replies of hundreds of kilobytes. The server must have created the
// file (started once) and must not be running. False, with a warning, when that failed.
bool addContacts(const QString& databasePath, int count);

} // namespace testsupport
