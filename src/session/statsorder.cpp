#include "session/statsorder.h"

void StatsOrder::asked(Asker asker, protocol::StatsKind kind)
{
    ++m_serial;
    if (asker == Asker::Window) {
        m_windowLatest = m_serial;
        m_windowLatestKind = kind;
    }
    m_waiting.push_back({asker, kind, m_serial});
}

StatsOrder::Goes StatsOrder::answered(protocol::StatsKind kind)
{
    // Requests of another kind before it lost their replies.
    if (kind != protocol::StatsKind::Other) {
        while (!m_waiting.empty() && m_waiting.front().kind != kind) {
            m_keeperLost = m_keeperLost || m_waiting.front().asker == Asker::Keeper;
            m_waiting.pop_front();
        }
    }
    if (m_waiting.empty())
        return Goes::ToWindow; // as any reply nobody asked for: into the mailbox
    const Request request = m_waiting.front();
    m_waiting.pop_front();
    if (request.asker == Asker::Keeper)
        return Goes::ToKeeper;
    if (request.serial == m_windowLatest)
        return Goes::ToWindow;
    if (m_windowLatest == 0 || kind != m_windowLatestKind)
        return Goes::Stale;
    // Of the kind the window waits for: taken as its answer, the requests before it
    // having lost theirs. What still comes for it later finds the mailbox.
    while (!m_waiting.empty() && m_waiting.front().serial < m_windowLatest)
        m_waiting.pop_front();
    return Goes::ToWindow;
}
