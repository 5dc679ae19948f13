#pragma once

// Building what the server sends: pure functions. The client cuts these messages at
// every "," and cannot unescape anything, so every stored value goes out with its
// commas replaced by CommaReplacement.

#include "contact.h"
#include "requests.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace replies {

inline const QString CommaReplacement = QStringLiteral(";");

// A stored value made safe for a comma-separated reply.
QString field(const QString& value);

// Call times as every message shows them: "2024-05-01 14:03:59", local time.
QString formatTime(const QDateTime& at);

// "CALL_:" + time + "," + number, name, home, mobile, work, work fax, e-mail. An unknown
// caller gets the number with empty detail fields.
QString call(const QDateTime& at, const QString& number, const std::optional<Contact>& caller);

// "PING_:" + the probe's number.
QString ping(quint64 number);

// One line of the call lists.
struct CallRow {
    QString name; // "Unknown" for an unknown number
    QDateTime at;
    QString number;
};

// One line of the contact tables.
struct ContactRow {
    Contact contact;
    qint64 calls = 0;        // every call from the contact's numbers
    qint64 unrecognised = 0; // those of them that no contact matched when they came in
};

// Statistics replies: the kind, ";" and the record count, "#", the number of fields
// per record in two digits, then the fields: "STATS:LAST;2#03Ann,2024-05-01 14:03:59,
// 5551234,Bob,...". The client reads only the kind and what follows "#" and two
// characters.
QString callList(requests::StatsKind kind, const QList<CallRow>& rows);
QString contactTable(requests::StatsKind kind, const QList<ContactRow>& rows);

// "CNTAC:SEAR;" + name, home, mobile, e-mail, business phone, business fax, the shown
// record's ID, then the IDs of every match.
QString searchResult(const Contact& shown, const QList<qint64>& matches);
QString noMatch();                    // "CNTAC:SEAR;None"
QString saved(const QString& text);   // "CNTAC:SAVE;" + text
QString refused(const QString& text); // "CNTAC:ERRO;" + text

} // namespace replies
