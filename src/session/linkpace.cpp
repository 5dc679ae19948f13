#include "session/linkpace.h"

#include <algorithm>

int LinkPace::quietFor(qint64 firstByteMs, int minimumMs)
{
    const qint64 measured = std::clamp<qint64>(firstByteMs, 0, MaxQuietMs);
    const qint64 twice = std::min<qint64>(2 * measured, MaxQuietMs);
    return static_cast<int>(std::max<qint64>(twice, minimumMs));
}

void LinkPace::replyBegan(qint64 nowMs)
{
    if (m_sentAt < 0)
        return; // not asked for: the link's pace stays as last measured
    m_firstByteMs = nowMs - m_sentAt;
    m_sentAt = -1;
}

void LinkPace::replyRead(qint64 nowMs, bool begins)
{
    if (begins) {
        m_longestGapMs = 0;
        m_reads = 0;
    } else if (m_lastReadAt >= 0) {
        m_longestGapMs = std::max(m_longestGapMs, nowMs - m_lastReadAt);
    }
    ++m_reads;
    m_lastReadAt = nowMs;
}

int LinkPace::completeQuietMs(int rttMs) const
{
    // Read whole at once, the reply tells nothing of the link's gaps: more of it could
    // come no sooner than a round trip later, where the system tells how long that is.
    qint64 gap = m_longestGapMs;
    if (m_reads < 2) {
        if (rttMs < 0)
            return std::min(DefaultMinimumMs, quietMs());
        gap = rttMs;
    }
    const qint64 twice = 2 * std::min<qint64>(gap, MaxQuietMs);
    return static_cast<int>(
        std::min<qint64>(std::max<qint64>(twice, MinimumCompleteMs), quietMs()));
}
