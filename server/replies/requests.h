#pragma once

// Parsing what an authenticated client asks for: pure functions.

#include "contact.h"

#include <QString>
#include <optional>
#include <variant>

namespace requests {

// "STATS:LAST;n", "STATS:UNKN;n", "STATS:TOPS;n" and "STATS:CNTS;00".
enum class StatsKind { Last, Unknown, Top, Contacts };

struct StatsRequest {
    StatsKind kind = StatsKind::Last;
    int count = 0; // records wanted; the contact list ignores it
};

inline constexpr int DefaultCount = 10;
inline constexpr int MaxCount = 100000;

// A count that is not a positive whole number gives DefaultCount; a larger one than
// MaxCount gives MaxCount. Nothing for a kind that is none of the four.
std::optional<StatsRequest> parseStats(const QString& message);

// The field a contact search looks in.
enum class SearchField { All, Name, Home, Mobile, Email, BusinessPhone, BusinessFax };

// "CNTAC:SEAR;<code>;<text>", optionally followed by ",@RECORD:<id>" to browse to a
// record of that search's result.
struct Search {
    SearchField field = SearchField::All;
    QString text;
    bool browse = false;
    QString browseIdText; // as received
    qint64 browseId = -1; // -1 when the text is no ID a contact can have
};

// The most characters (counted as the client counts them, not in bytes) a saved field may
// have: more than any real name, number or address needs, and it bounds what one contact
// adds to every reply that lists it.
inline constexpr int MaxFieldLength = 1000;

// "CNTAC:SAVE;<id>,<six fields>" or "CNTAC:SAVE;NEW,<six fields>". A field longer than
// MaxFieldLength, or one that holds a control character (printable::isControl), makes it a
// Refusal.
struct Save {
    bool isNew = false;
    Contact contact; // id 0 for a new record
};

// A request that cannot be carried out; the text goes back to the client.
struct Refusal {
    QString text;
};

using ContactsRequest = std::variant<Search, Save, Refusal>;

ContactsRequest parseContacts(const QString& message);

} // namespace requests
