#include "statsreply.h"

#include "replies.h"
#include "session/protocol.h"

StatsReply::StatsReply(requests::StatsKind kind, int fieldsPerRecord, qsizetype maxBytes)
    : m_kind(kind),
      // The head is plain ASCII, one byte per character; "0" is the count's one digit.
      m_headWithoutCount(replies::statsHead(kind, 0, fieldsPerRecord).size() - 1),
      m_fieldsPerRecord(fieldsPerRecord), m_max(maxBytes)
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
    return headSize(m_records) + m_body.size();
}

bool StatsReply::add(const QString& record)
{
    if (m_full)
        return false;
    const QByteArray bytes = protocol::encode(record);
    const qsizetype separator = m_records > 0 ? 1 : 0;
    if (headSize(m_records + 1) + m_body.size() + separator + bytes.size() > m_max) {
        m_full = true;
        return false;
    }
    if (separator)
        m_body += ',';
    m_body += bytes;
    ++m_records;
    return true;
}

QByteArray StatsReply::take()
{
    QByteArray message = protocol::encode(replies::statsHead(m_kind, m_records, m_fieldsPerRecord));
    message.reserve(message.size() + m_body.size());
    message += m_body;
    m_body = QByteArray();
    m_records = 0;
    m_full = false;
    return message;
}
