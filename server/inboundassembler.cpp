#include "inboundassembler.h"

namespace {

bool beginsRequest(const QByteArray& chunk)
{
    return chunk.startsWith("PONG_:") || chunk.startsWith("STATS:") || chunk.startsWith("CNTAC:");
}

} // namespace

InboundAssembler::Result InboundAssembler::feed(const QByteArray& chunk)
{
    Result result;
    if (chunk.isEmpty())
        return result;

    const bool begins = beginsRequest(chunk);
    if (begins) {
        m_discarding = false;
        if (holding())
            result.messages.push_back(takeHeld());
    } else if (m_discarding) {
        return result;
    }

    if (m_held.size() + chunk.size() > m_max) {
        result.dropped = true;
        m_held.clear();
        m_discarding = true;
        return result;
    }
    const bool first = !holding();
    m_held.append(chunk);
    if (first && m_held.size() < WholeBelow)
        result.messages.push_back(takeHeld());
    return result;
}

QByteArray InboundAssembler::takeHeld()
{
    m_discarding = false;
    QByteArray message;
    message.swap(m_held);
    return message;
}
