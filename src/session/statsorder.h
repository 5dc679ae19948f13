#pragma once

#include "session/protocol.h"

#include <QtGlobal>
#include <deque>
#include <utility>

// Who is to get each statistics reply. The server answers a connection's requests in the
// order they were sent, so the replies are counted off against the requests: the
// statistics window's query and the client's own question after a reconnect each get
// their own reply, even when one of them gave up waiting and the other asked meanwhile.
// One per connection; forgotten when it ends.
//
// A reply can go missing all the same (two read as one, or one too big to keep): a
// request whose kind differs from the reply's is taken to have lost its reply, and a
// reply of the kind of the window's latest query goes to the window, so that one lost
// reply does not shift every later one.
class StatsOrder final {
public:
    enum class Asker { Window, Keeper };
    enum class Goes {
        ToWindow, // the reply to the window's latest query, or one nobody asked for
        ToKeeper, // the answer to the keeper's question
        Stale     // the reply to a query of the window's that it no longer waits for
    };

    void asked(Asker asker, protocol::StatsKind kind);
    // A statistics reply of this kind arrived (or one was dropped whole: Other): whose
    // it is.
    Goes answered(protocol::StatsKind kind);
    // The window is closed: replies to its queries are no longer wanted.
    void windowGaveUp() { m_windowLatest = 0; }
    // Whether the keeper's question lost its reply since the last look.
    bool takeKeeperLost() { return std::exchange(m_keeperLost, false); }
    void clear() { m_waiting.clear(); }

private:
    struct Request {
        Asker asker;
        protocol::StatsKind kind;
        quint64 serial;
    };
    std::deque<Request> m_waiting;
    quint64 m_serial = 0;
    quint64 m_windowLatest = 0; // 0: none wanted
    protocol::StatsKind m_windowLatestKind = protocol::StatsKind::Other;
    bool m_keeperLost = false;
};
