#include "session/statedsize.h"

#include "session/messageassembler.h"
#include "session/protocol.h"

namespace statedsize {

namespace {

constexpr qsizetype CountStart = protocol::StatsKindLength + 1; // after "STATS:KIND;"
// No count the size limit allows needs more digits; leading zeros beyond this are not a
// plain count either.
constexpr qsizetype MaxCountDigits = 18;

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

struct Header {
    Progress progress = Progress::Pending; // Pending: not all there yet; Unstated: none
    bool read = false;
    qint64 fields = 0;
    qsizetype listStart = 0;
};

// "STATS:KIND;<count>#<ff>": how many fields follow, or why that cannot be told yet.
Header readHeader(QByteArrayView reply)
{
    Header header;
    if (reply.size() >= protocol::PrefixLength &&
        protocol::classify(reply.first(protocol::PrefixLength).toByteArray()) !=
            protocol::Kind::Stats) {
        header.progress = Progress::Unstated;
        return header;
    }
    if (reply.size() < CountStart)
        return header;
    if (reply[CountStart - 1] != ';') {
        header.progress = Progress::Unstated;
        return header;
    }
    qint64 count = 0;
    qsizetype at = CountStart;
    for (; at < reply.size() && digit(reply[at]); ++at) {
        if (at - CountStart == MaxCountDigits) {
            header.progress = Progress::Unstated;
            return header;
        }
        count = count * 10 + (reply[at] - '0');
    }
    if (at == reply.size())
        return header;
    if (at == CountStart || reply[at] != '#') {
        header.progress = Progress::Unstated;
        return header;
    }
    if (reply.size() < at + 3)
        return header;
    if (!digit(reply[at + 1]) || !digit(reply[at + 2])) {
        header.progress = Progress::Unstated;
        return header;
    }
    const int perRecord = (reply[at + 1] - '0') * 10 + (reply[at + 2] - '0');
    // n × f fields need n × f − 1 commas: a count no message within the size limit can
    // hold is not believed (and could not be multiplied safely).
    if (perRecord > 0 && count > (MessageAssembler::MaxMessageSize + 1) / perRecord) {
        header.progress = Progress::Unstated;
        return header;
    }
    header.read = true;
    header.fields = count * perRecord;
    header.listStart = at + 3;
    return header;
}

} // namespace

Progress Tracker::update(QByteArrayView reply)
{
    if (m_progress == Progress::Unstated || m_progress == Progress::Exceeded)
        return m_progress;
    if (m_fields < 0) {
        const Header header = readHeader(reply);
        if (!header.read)
            return m_progress = header.progress;
        m_fields = header.fields;
        m_listStart = header.listStart;
        m_scanned = m_listStart;
    }
    for (; m_scanned < reply.size(); ++m_scanned) {
        if (reply[m_scanned] == ',') {
            ++m_commas;
            m_lastComma = m_scanned;
        }
    }
    const qsizetype lastFieldStart = m_lastComma < 0 ? m_listStart : m_lastComma + 1;
    const bool lastFieldBegun = reply.size() > lastFieldStart;
    if (m_fields == 0)
        m_progress = reply.size() > m_listStart ? Progress::Exceeded : Progress::Complete;
    else if (m_commas > m_fields - 1)
        m_progress = Progress::Exceeded;
    else if (m_commas == m_fields - 1 && lastFieldBegun)
        m_progress = Progress::Complete;
    else
        m_progress = Progress::Pending;
    return m_progress;
}

Progress progress(QByteArrayView reply)
{
    return Tracker().update(reply);
}

} // namespace statedsize
