#include "inboundassembler.h"

namespace {

constexpr QByteArrayView PongPrefix("PONG_:");

bool beginsRequest(QByteArrayView piece)
{
    return piece.startsWith(PongPrefix) || piece.startsWith("STATS:") || piece.startsWith("CNTAC:");
}

// Where the keep-alive answer the text begins with ends: its payload is the server's own
// counter, digits only.
qsizetype pongEnd(QByteArrayView text)
{
    qsizetype end = PongPrefix.size();
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    return end;
}

} // namespace

InboundAssembler::Result InboundAssembler::feed(const QByteArray& chunk)
{
    Result result;
    // A keep-alive answer and the next request may arrive in one read.
    QByteArrayView rest(chunk);
    while (!rest.isEmpty()) {
        const qsizetype end = rest.startsWith(PongPrefix) ? pongEnd(rest) : rest.size();
        feedPiece(rest.first(end), result);
        rest = rest.sliced(end);
    }
    return result;
}

void InboundAssembler::feedPiece(QByteArrayView piece, Result& result)
{
    const bool begins = beginsRequest(piece);
    if (begins) {
        m_discarding = false;
        if (holding())
            result.messages.push_back(takeHeld());
    } else if (m_discarding) {
        return;
    }

    if (m_held.size() + piece.size() > m_max) {
        result.dropped = true;
        m_held.clear();
        m_discarding = true;
        return;
    }
    const bool first = !holding();
    m_held.append(piece);
    if (first && m_held.size() < WholeBelow)
        result.messages.push_back(takeHeld());
}

QByteArray InboundAssembler::takeHeld()
{
    m_discarding = false;
    QByteArray message;
    message.swap(m_held);
    return message;
}
