#pragma once

#include <QtGlobal>
#include <deque>

// The calls one source announced in the last minute, to hold it to a limit: a line that
// reports calls far faster than phones ring (a broken or hostile peer) would otherwise fill
// the call log and every client's screen.
class CallRate final {
public:
    static constexpr int PerMinute = 60;

    // Whether a call at this time (in ms, never going back) is within the limit; counted if so.
    bool take(qint64 nowMs)
    {
        while (!m_times.empty() && nowMs - m_times.front() >= 60000)
            m_times.pop_front();
        if (m_times.size() >= PerMinute)
            return false;
        m_times.push_back(nowMs);
        return true;
    }

private:
    std::deque<qint64> m_times;
};
