#pragma once

// The contacts window's side of the server conversation: pure functions that build the
// search, browse and save requests and take the "CNTAC:" replies apart. Qt::Core only.

#include "contacts/recordlist.h"

#include <QString>
#include <QStringList>
#include <array>

namespace contacts {

inline const QString SearchPrefix = QStringLiteral("CNTAC:SEAR;");
inline const QString SavePrefix = QStringLiteral("CNTAC:SAVE;");
inline const QString ErrorPrefix = QStringLiteral("CNTAC:ERRO;");
inline const QString NoResultPrefix = QStringLiteral("CNTAC:SEAR;None");
inline const QString RecordMarker = QStringLiteral(",@RECORD:");
inline const QString NewRecord = QStringLiteral("NEW");
inline const QString CRLF = QStringLiteral("\r\n");

inline constexpr int SearchFieldCount = 7;
inline constexpr int FieldCount = 6;

// The six editable fields of a record, in the order the save request carries them:
// name, home phone, mobile phone, e-mail, business phone, business fax.
using RecordFields = std::array<QString, FieldCount>;

// The four-letter code of a search option (0 "ALLF" to 6 "BFAX"); empty outside 0..6.
QString searchFieldCode(int option);

// "CNTAC:SEAR;" + code + ";" + the text exactly as typed.
QString searchRequest(const QString& fieldCode, const QString& text);

// The last search request + ",@RECORD:" + the ID in plain decimal.
QString browseRequest(const QString& lastSearch, qint64 id);

// "CNTAC:SAVE;" + the ID (or "NEW" when the ID is empty) + "," + the six fields joined
// by ",", untrimmed.
QString saveRequest(const QString& id, const RecordFields& fields);

// True when every field is empty or spaces only.
bool isBlank(const RecordFields& fields);

// True when a field holds a comma: the save request has no escaping, so such a value
// would reach the server as two fields and shift every later one.
bool containsComma(const RecordFields& fields);

// A received "CNTAC:" message, taken apart.
struct Reply {
    enum class Kind { Error, Save, NoResult, Records, Ignored };
    Kind kind = Kind::Ignored;
    QString text;       // Error and Save: the payload, verbatim
    QStringList fields; // Records: the first entries, at most six (missing ones absent)
    bool hasId = false; // Records: whether the seventh entry (the shown ID) is present
    QString id;         // Records: the seventh entry
    RecordList records; // Records: the eighth entry on, the IDs the search found
};
Reply parseReply(const QString& message);

// The ID that a save reply's text gives a new record ("New record saved with ID 57."
// gives 57); empty for any other text.
QString newRecordId(const QString& saveText);

// The information label's texts.
QString errorInformation(const QString& payload);
QString noResultInformation();
// First line "Currently viewing no. k" (the last position whose entry equals the shown
// ID, counted from 1; empty when none does), second "The search found n records.".
QString recordInformation(const RecordList& records, const QString& shownId);
// The last position (from 1) whose entry equals shownId; 0 when none does.
qsizetype viewingPosition(const RecordList& records, const QString& shownId);

// A record ID as the browse request carries it: surrounding spaces ignored, an optional
// sign, decimal digits (leading zeros allowed) and an optional fraction that is rounded
// to the nearest whole number, a half to the even one. Any 64-bit value is accepted.
struct RecordId {
    enum class Status { Ok, NotANumber, OutOfRange };
    Status status = Status::NotANumber;
    qint64 value = 0;
};
RecordId parseRecordId(const QString& text);

// The record that "< Back" or "Next >" asks for: walking the whole list, every entry equal
// to the shown ID picks its neighbour (wrapping round at both ends), and the last match
// wins; with no match the target is 0. On failure, error describes the bad entry.
enum class Direction { Back, Next };
struct BrowseTarget {
    bool ok = false;
    qint64 id = 0;
    QString error;
};
BrowseTarget browseTarget(const RecordList& records, const QString& shownId, Direction direction);

// The error report's text: its nine lines joined by CR LF, none after the last.
QString errorReport(const QString& description, const QString& source);

} // namespace contacts
