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
