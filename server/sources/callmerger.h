#pragma once

#include "callsource.h"

#include <deque>

// Tells a call apart from a repeat of one just announced: the same number on the same
// line within a few seconds, as two modems on one line or a line that reports a call
// twice give it. Remembers only the last few calls.
class CallMerger final {
public:
    static constexpr int WindowMs = 10000;
    static constexpr std::size_t Remembered = 32;

    // Whether the call repeats one seen before; if not, it is remembered.
    bool isRepeat(const IncomingCall& call)
    {
        for (const IncomingCall& seen : m_seen) {
            if (seen.line == call.line && seen.number == call.number &&
                std::abs(seen.at.msecsTo(call.at)) < WindowMs)
                return true;
        }
        m_seen.push_back(call);
        if (m_seen.size() > Remembered)
            m_seen.pop_front();
        return false;
    }

private:
    std::deque<IncomingCall> m_seen;
};
