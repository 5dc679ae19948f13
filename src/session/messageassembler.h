#pragma once

#include <QByteArray>
#include <vector>

// Puts received data back into messages. The server's messages carry no terminator, so
// each read normally is one message. A statistics or contacts reply can span several
// reads: a read that begins with no known prefix while such a reply is held continues
// it. A held reply is complete once the next message begins or the connection has been
// quiet for a moment (the caller's timer calls takeHeld()).
class MessageAssembler final {
public:
    static constexpr qsizetype MaxMessageSize = 16 * 1024 * 1024;

    struct Result {
        std::vector<QByteArray> messages; // complete, in arrival order
        qsizetype droppedBytes = 0;       // an oversized reply given up
    };

    Result feed(const QByteArray& chunk);

    // The held reply, handed on as complete (empty when nothing is held).
    QByteArray takeHeld();

    bool holding() const { return !m_held.isEmpty(); }
    void clear();

private:
    QByteArray m_held;
    bool m_discarding = false; // the rest of an oversized reply
};
