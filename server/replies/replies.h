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

// The longest message a client takes: it drops a longer one whole. No reply is longer.
inline constexpr qsizetype MaxReplyBytes = 16 * 1024 * 1024;

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
    qint64 id = 0; // in the call log
    QString name;  // "Unknown" for an unknown number
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
// characters. Records follow each other with a "," between them, as fields do; see
// StatsReply for putting them together.
QString statsHead(requests::StatsKind kind, qsizetype records, int fieldsPerRecord);
inline constexpr int CallFields = 3;
inline constexpr int ContactFields = 9;
// Name, time, number.
QString callRecord(const CallRow& row);
// ID, name, home, mobile, business phone, business fax, e-mail, calls, unrecognised calls.
QString contactRecord(const ContactRow& row);

// "CNTAC:SEAR;" + name, home, mobile, e-mail, business phone, business fax, the shown
// record's ID, then the IDs of every match, encoded for the wire. IDs that would make it
// longer than maxBytes are left off.
QByteArray searchResult(const Contact& shown, const QList<qint64>& matches,
                        qsizetype maxBytes = MaxReplyBytes);
QString noMatch();                    // "CNTAC:SEAR;None"
QString saved(const QString& text);   // "CNTAC:SAVE;" + text
QString refused(const QString& text); // "CNTAC:ERRO;" + text

} // namespace replies
