#include "session/deadpeer.h"

#include <algorithm>

namespace {

int g_minimumSilence = DeadPeerWatch::DefaultMinimumSilenceMs;

} // namespace

DeadPeerWatch::DeadPeerWatch(QObject* parent) : QObject(parent)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this,
            [this] { emit silent((m_silence.interval() + 500) / 1000); });
}

void DeadPeerWatch::setMinimumSilence(int milliseconds)
{
    g_minimumSilence = std::max(1, milliseconds);
}

void DeadPeerWatch::signOfLife(bool isProbe)
{
    if (isProbe) {
        if (m_probes > 0) {
            // Three of the intervals seen last, never less than the minimum and never more
            // than a day (a probe after a very long pause says little).
            const qint64 interval = m_lastProbe.elapsed();
            const qint64 silence =
                std::clamp<qint64>(3 * interval, g_minimumSilence, 24LL * 3600 * 1000);
            m_silence.setInterval(static_cast<int>(silence));
        }
        ++m_probes;
        m_lastProbe.start();
    }
    if (m_probes >= 2)
        m_silence.start();
}

void DeadPeerWatch::reset()
{
    m_silence.stop();
    m_probes = 0;
    m_lastProbe.invalidate();
}
