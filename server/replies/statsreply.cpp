#include "statsreply.h"

#include "replies.h"
#include "session/protocol.h"

#include <utility>

StatsReply::StatsReply(requests::StatsKind kind, int fieldsPerRecord, qsizetype maxBytes)
    : m_kind(kind),
      // The head is plain ASCII, one byte per character; "0" is the count's one digit.
      m_headWithoutCount(replies::statsHead(kind, 0, fieldsPerRecord).size() - 1),
      m_fieldsPerRecord(fieldsPerRecord), m_max(maxBytes), m_body(HeadRoom, ' ')
{
}

qsizetype StatsReply::headSize(qsizetype records) const
{
    qsizetype digits = 1;
    for (qsizetype rest = records; rest >= 10; rest /= 10)
        ++digits;
    return m_headWithoutCount + digits;
}

qsizetype StatsReply::size() const
{
    return headSize(m_records) + m_body.size() - HeadRoom;
}

bool StatsReply::add(const QString& record)
{
    if (m_full)
        return false;
    const QByteArray bytes = protocol::encode(record);
    const qsizetype separator = m_records > 0 ? 1 : 0;
    if (headSize(m_records + 1) + m_body.size() - HeadRoom + separator + bytes.size() > m_max) {
        m_full = true;
        return false;
    }
    // A long list gets room for as much as it may hold at once: growing a buffer of
    // megabytes would copy it, and the room it does not fill never takes memory.
    if (m_body.size() + separator + bytes.size() > m_body.capacity() && m_body.size() > LargeBytes)
        m_body.reserve(m_max + HeadRoom);
    if (separator)
        m_body += ',';
    m_body += bytes;
    ++m_records;
    return true;
}

QByteArray StatsReply::take()
{
    const QByteArray head =
        protocol::encode(replies::statsHead(m_kind, m_records, m_fieldsPerRecord));
    Q_ASSERT(head.size() <= HeadRoom);
    QByteArray message = std::exchange(m_body, QByteArray(HeadRoom, ' '));
    message.replace(HeadRoom - head.size(), head.size(), head);
    message.remove(0, HeadRoom - head.size()); // moves the start, not the bytes
    m_records = 0;
    m_full = false;
    return message;
}
