#pragma once

#include "requests.h"

#include <QByteArray>
#include <QString>

// A statistics reply put together one record at a time, encoded for the wire as it grows,
// and never longer than a given number of bytes: a record that would make it longer is
// left out, and so is every one after it, the header counting only the records sent. The
// client drops a longer message whole, so the first part of a list is of more use to it
// than nothing. Within the limit the bytes are those of the whole list encoded at once.
class StatsReply final {
public:
    StatsReply(requests::StatsKind kind, int fieldsPerRecord, qsizetype maxBytes);

    // Adds a record (its fields joined by ","). False, and nothing added, when the reply
    // would pass the limit; it is then full.
    bool add(const QString& record);

    qsizetype records() const { return m_records; }
    bool isFull() const { return m_full; }
    // The length of the message as it stands.
    qsizetype size() const;
    // The whole message; the reply is empty afterwards.
    QByteArray take();

private:
    qsizetype headSize(qsizetype records) const;
    // Room kept before the records for the longest head, so that take() writes the head in
    // front of them rather than copying megabytes behind it.
    static constexpr qsizetype HeadRoom = 40;
    static constexpr qsizetype LargeBytes = 1024 * 1024;

    requests::StatsKind m_kind;
    qsizetype m_headWithoutCount; // the head's length but for the digits of the count
    int m_fieldsPerRecord;
    qsizetype m_max;
    QByteArray m_body;
    qsizetype m_records = 0;
    bool m_full = false;
};
