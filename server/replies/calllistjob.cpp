#include "calllistjob.h"

CallListJob::CallListJob(CallLog& calls, const requests::StatsRequest& request, qsizetype maxBytes)
    : m_calls(calls), m_unknownOnly(request.kind == requests::StatsKind::Unknown),
      m_wanted(request.count), m_reply(request.kind, replies::CallFields, maxBytes)
{
}

bool CallListJob::step()
{
    const int asked = int(qMin<qsizetype>(RowsPerStep, m_wanted - m_reply.records()));
    const QList<replies::CallRow> rows =
        m_calls.newest(asked, m_unknownOnly, m_last ? &*m_last : nullptr);
    for (const replies::CallRow& row : rows) {
        if (!m_reply.add(replies::callRecord(row)))
            return true; // as long as a reply may be
        m_last = row;
    }
    // Fewer than asked for: the log has no more (or could not be read).
    return rows.size() < asked || m_reply.records() >= m_wanted;
}
