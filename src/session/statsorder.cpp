#include "session/statsorder.h"

void StatsOrder::asked(Asker asker)
{
    ++m_serial;
    if (asker == Asker::Window)
        m_windowLatest = m_serial;
    m_waiting.push_back({asker, m_serial});
}

StatsOrder::Goes StatsOrder::answered()
{
    if (m_waiting.empty())
        return Goes::ToWindow; // as any reply nobody asked for: into the mailbox
    const Request request = m_waiting.front();
    m_waiting.pop_front();
    if (request.asker == Asker::Keeper)
        return Goes::ToKeeper;
    return request.serial == m_windowLatest ? Goes::ToWindow : Goes::Stale;
}
