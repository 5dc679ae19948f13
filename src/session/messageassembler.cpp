#include "session/messageassembler.h"

#include "session/protocol.h"

namespace {

bool isReply(protocol::Kind kind)
{
    return kind == protocol::Kind::Stats || kind == protocol::Kind::Contacts;
}

} // namespace

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
                m_held.clear();
                m_discarding = true;
            } else {
                m_held.append(chunk);
            }
        }
        // A read that continues nothing is dropped.
        return result;
    }

    m_discarding = false;
    if (holding())
        result.messages.push_back(takeHeld());
    if (!isReply(kind)) {
        result.messages.push_back(chunk);
    } else if (chunk.size() > MaxMessageSize) {
        result.droppedBytes = chunk.size();
        m_discarding = true;
    } else {
        m_held = chunk;
    }
    return result;
}

QByteArray MessageAssembler::takeHeld()
{
    QByteArray message;
    message.swap(m_held);
    return message;
}

void MessageAssembler::clear()
{
    m_held.clear();
    m_discarding = false;
}
