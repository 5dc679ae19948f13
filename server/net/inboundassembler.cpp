#include "inboundassembler.h"

namespace {

constexpr QByteArrayView PongPrefix("PONG_:");

// A request line: one of the methods a browser sends and the start of a target, or any
// method (a token), a target and the version.
bool isHttpRequest(QByteArrayView text)
{
    static constexpr const char* Methods[] = {"GET",   "POST", "PUT",     "DELETE",
                                              "PATCH", "HEAD", "OPTIONS", "TRACE"};
    static constexpr const char* Targets[] = {" /", " *", " http:", " https:"};
    for (const char* method : Methods) {
        if (!text.startsWith(method))
            continue;
        const QByteArrayView target = text.sliced(qstrlen(method));
        for (const char* start : Targets) {
            if (target.startsWith(start))
                return true;
        }
    }
    const qsizetype lineEnd = text.indexOf('\n');
    const QByteArrayView line = lineEnd < 0 ? text : text.first(lineEnd);
    const qsizetype space = line.indexOf(' ');
    if (space <= 0)
        return false;
    for (const char c : line.first(space)) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.'))
            return false;
    }
    const QByteArrayView rest = line.sliced(space + 1);
    const qsizetype version = rest.indexOf(" HTTP/");
    return version > 0 && rest.first(version).indexOf(' ') < 0;
}

} // namespace

bool InboundAssembler::beginsRequest(QByteArrayView piece)
{
    return piece.startsWith(PongPrefix) || piece.startsWith("STATS:") || piece.startsWith("CNTAC:");
}

const char* InboundAssembler::otherProtocol(QByteArrayView first)
{
    // A TLS record of the handshake: type 22, version 3.x.
    if (first.size() >= 3 && first[0] == 0x16 && first[1] == 0x03 && quint8(first[2]) <= 0x04)
        return "a TLS handshake";
    if (first.startsWith("PRI * HTTP/2"))
        return "the HTTP/2 preface";
    if (isHttpRequest(first))
        return "an HTTP request";
    return nullptr;
}

namespace {

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
