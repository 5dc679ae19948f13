#pragma once

#include <QtGlobal>

// How long a reply that has not said it is complete may pause before it counts as
// complete. A slow link delivers a large reply in bursts, one round trip apart, so the
// pause allowed follows the link: twice the time from the latest statistics or contacts
// request to the first byte of its reply, never below the minimum (30 ms unless set) and
// never above MaxQuietMs, so a wrongly stated size or a stalled server holds a reply for
// at most that long after its last byte.
//
// A reply that holds every field it states is only waited on in case its last field
// goes on in the next burst: that wait follows the gaps between the reads of the reply
// itself, not the server's time to answer.
class LinkPace final {
public:
    static constexpr int DefaultMinimumMs = 30;
    static constexpr int MaxQuietMs = 2000;
    static constexpr int MinimumCompleteMs = 3;

    // The quiet time for a reply whose first byte came `firstByteMs` after its request.
    // A minimum above MaxQuietMs wins.
    static int quietFor(qint64 firstByteMs, int minimumMs);

    void setMinimum(int milliseconds) { m_minimum = milliseconds; }

    // Times on one monotonic clock, in milliseconds. A request restarts the measurement;
    // only the first reply after it is measured.
    void requestSent(qint64 nowMs) { m_sentAt = nowMs; }
    void replyBegan(qint64 nowMs);
    // A read of the reply being held; `begins` for its first.
    void replyRead(qint64 nowMs, bool begins);

    int quietMs() const { return quietFor(m_firstByteMs, m_minimum); }
    // The quiet time for the held reply once it holds every field it states: twice the
    // longest gap between its reads so far, at least MinimumCompleteMs and never longer
    // than quietMs(). While it has come in one read: twice the link's round-trip time
    // (`rttMs`), or the default minimum where that is not known (-1).
    int completeQuietMs(int rttMs = -1) const;

    // A new connection may run over another link: what was measured no longer holds.
    void forget()
    {
        m_sentAt = -1;
        m_firstByteMs = 0;
        m_lastReadAt = -1;
        m_longestGapMs = 0;
        m_reads = 0;
    }

private:
    int m_minimum = DefaultMinimumMs;
    qint64 m_sentAt = -1;     // the request waiting for the first byte of its reply
    qint64 m_firstByteMs = 0; // the latest measurement
    qint64 m_lastReadAt = -1; // of the held reply
    qint64 m_longestGapMs = 0;
    int m_reads = 0;
};
