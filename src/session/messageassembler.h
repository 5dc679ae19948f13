#pragma once

#include "session/statedsize.h"

#include <QByteArray>
#include <vector>

// Puts received data back into messages. The server's messages carry no terminator, so
// each read normally is one message. A statistics or contacts reply can span several
// reads: a read that begins with no known prefix while such a reply is held continues
// it. A held reply is complete once the next message begins or once the connection has
// been quiet for a while (the caller's timer calls takeHeld()). Even a statistics reply
// that holds every field its header states (see statedsize.h) waits for a short quiet:
// its last field has no end mark, and a read may end inside it. One that has not yet
// begun every stated field is known to be incomplete, and may wait longer.
class MessageAssembler final {
public:
    static constexpr qsizetype MaxMessageSize = 16 * 1024 * 1024;

    struct Result {
        std::vector<QByteArray> messages; // complete, in arrival order
        qsizetype droppedBytes = 0;       // an oversized reply given up
        bool droppedStats = false;        // and it was a statistics reply
    };

    Result feed(const QByteArray& chunk);

    // The held reply, handed on as complete (empty when nothing is held).
    QByteArray takeHeld();

    bool holding() const { return !m_held.isEmpty(); }
    // How much of a statistics reply is held (0 when the held reply is another kind).
    qsizetype heldStatsBytes() const { return m_heldStats ? m_held.size() : 0; }
    // Whether the held reply is a statistics reply that states its size but has not yet
    // begun every field it states: more is known to be on its way.
    bool heldShort() const { return m_progress == statedsize::Progress::Pending; }
    // Whether the held reply is a statistics reply that has begun every field it states,
    // and no more.
    bool heldComplete() const { return m_progress == statedsize::Progress::Complete; }
    void clear();

    // Whether a message (a request, or the read that begins a reply) is a statistics or
    // contacts one.
    static bool isStatsOrContacts(const QByteArray& chunk);

private:
    void followStatedSize();

    QByteArray m_held;
    bool m_heldStats = false;
    statedsize::Tracker m_size;
    statedsize::Progress m_progress = statedsize::Progress::Unstated; // of a held reply
    bool m_discarding = false; // the rest of an oversized reply
};
