#pragma once

#include <QStringList>

// The tables, in each database's own words: contacts, their numbers and the call log,
// meaning the same in both. contact_numbers holds each contact's phone numbers, as
// stored and as digits only, for looking up calls.
namespace schema {

// 2: the call log keeps which of the site's numbers was called.
inline constexpr int Version = 2;

// Statements that create what is missing, to run in one transaction, for a file of the
// version given (0: a new one).
QStringList sqlite(int version);
// The same for PostgreSQL, serialised by an advisory lock so that servers starting
// together on an empty database do not trip over each other.
QStringList postgresql();

} // namespace schema
