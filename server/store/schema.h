#pragma once

#include <QStringList>

// The tables, in each database's own words: contacts, their numbers and the call log,
// meaning the same in both. contact_numbers holds each contact's phone numbers, as
// stored and as digits only, for looking up calls.
namespace schema {

inline constexpr int Version = 1;

// Statements that create what is missing, to run in one transaction.
QStringList sqlite();
// The same for PostgreSQL, serialised by an advisory lock so that servers starting
// together on an empty database do not trip over each other.
QStringList postgresql();

} // namespace schema
