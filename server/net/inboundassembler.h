#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

// Puts what a client sends back into messages. Clients write each message at once and
// add no terminator, so a read is normally one whole message; a long one may come in
// several reads. A read that begins with a request prefix ("PONG_:", "STATS:",
// "CNTAC:") starts a message; any other read continues the held one (or, with nothing
// held, starts one: the password has no prefix). A keep-alive answer carries only
// digits, so what follows them in the same read is the next message. A held message is
// complete when the next one begins, when it is shorter than one TCP segment can be (no
// sender splits such a write), or when the caller's quiet timer calls takeHeld().
// A message that grows past the limit is dropped whole, its remaining reads too.
class InboundAssembler final {
public:
    // A first read shorter than this cannot be part of a longer write.
    static constexpr qsizetype WholeBelow = 512;

    explicit InboundAssembler(qsizetype maxMessageBytes) : m_max(maxMessageBytes) {}

    struct Result {
        std::vector<QByteArray> messages; // complete, in arrival order
        bool dropped = false;             // an oversized message was given up
    };

    // Whether the text begins as a request does ("PONG_:", "STATS:", "CNTAC:").
    static bool beginsRequest(QByteArrayView text);
    // What a connection's first message is when it is the start of another protocol, or
    // nullptr. A web page can have the browser send anything as the body of a request to
    // this port: a request line ("POST / HTTP/1.1", the method alone is enough, since a
    // long address may be cut), the HTTP/2 preface or a TLS handshake are no client's.
    static const char* otherProtocol(QByteArrayView first);

    Result feed(const QByteArray& chunk);
    // The connection has been quiet: the held message (maybe empty) is complete, and
    // the rest of a dropped message is over.
    QByteArray takeHeld();
    bool holding() const { return !m_held.isEmpty(); }

private:
    void feedPiece(QByteArrayView piece, Result& result);

    qsizetype m_max;
    QByteArray m_held;
    bool m_discarding = false;
};
