#pragma once

#include <QtGlobal>
#include <deque>

// Who is to get each statistics reply. The server answers a connection's requests in the
// order they were sent, so the replies are counted off against the requests: the
// statistics window's query and the client's own question after a reconnect each get
// their own reply, even when one of them gave up waiting and the other asked meanwhile.
// One per connection; forgotten when it ends.
class StatsOrder final {
public:
    enum class Asker { Window, Keeper };
    enum class Goes {
        ToWindow, // the reply to the window's latest query, or one nobody asked for
        ToKeeper, // the answer to the keeper's question
        Stale     // the reply to a query of the window's that a later one replaced
    };

    void asked(Asker asker);
    // A statistics reply arrived (or was dropped whole): whose it is.
    Goes answered();
    void clear() { m_waiting.clear(); }
    qsizetype waiting() const { return static_cast<qsizetype>(m_waiting.size()); }

private:
    struct Request {
        Asker asker;
        quint64 serial;
    };
    std::deque<Request> m_waiting;
    quint64 m_serial = 0;
    quint64 m_windowLatest = 0;
};
