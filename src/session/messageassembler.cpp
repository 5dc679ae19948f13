#include "session/messageassembler.h"

#include "session/protocol.h"

bool MessageAssembler::isStatsOrContacts(const QByteArray& chunk)
{
    const protocol::Kind kind = protocol::classify(chunk);
    return kind == protocol::Kind::Stats || kind == protocol::Kind::Contacts;
}

MessageAssembler::Result MessageAssembler::feed(const QByteArray& chunk)
{
    Result result;
    if (chunk.isEmpty())
        return result;

    const protocol::Kind kind = protocol::classify(chunk);
    if (kind == protocol::Kind::Unknown) {
        if (m_discarding) {
            // The rest of a reply that was already reported as dropped.
        } else if (holding()) {
            if (m_held.size() + chunk.size() > MaxMessageSize) {
                result.droppedBytes = m_held.size() + chunk.size();
                result.droppedStats = m_heldStats;
                clear();
                m_discarding = true;
            } else {
                m_held.append(chunk);
                followStatedSize();
            }
        }
        // A read that continues nothing is dropped.
        return result;
    }

    m_discarding = false;
    if (holding())
        result.messages.push_back(takeHeld());
    if (!isStatsOrContacts(chunk)) {
        result.messages.push_back(chunk);
    } else if (chunk.size() > MaxMessageSize) {
        result.droppedBytes = chunk.size();
        result.droppedStats = kind == protocol::Kind::Stats;
        m_discarding = true;
    } else {
        m_held = chunk;
        m_heldStats = kind == protocol::Kind::Stats;
        followStatedSize();
    }
    return result;
}

void MessageAssembler::followStatedSize()
{
    // A stated size that is exceeded is not trusted: such a reply, like one that states
    // none, ends with the next message or when the link goes quiet, and is handed on
    // whole. Cutting it at the stated size could split a field or lose the next message.
    m_progress = m_heldStats ? m_size.update(m_held) : statedsize::Progress::Unstated;
}

QByteArray MessageAssembler::takeHeld()
{
    QByteArray message;
    message.swap(m_held);
    m_heldStats = false;
    m_progress = statedsize::Progress::Unstated;
    m_size.reset();
    return message;
}

void MessageAssembler::clear()
{
    m_held.clear();
    m_heldStats = false;
    m_progress = statedsize::Progress::Unstated;
    m_size.reset();
    m_discarding = false;
}
