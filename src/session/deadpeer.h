#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Notices a server that has gone silent without closing the connection (power lost,
// cable pulled, a NAT entry timed out). Nothing is assumed of the server: only once it
// has sent two keep-alive probes is its interval known, and from then on a silence of
// three intervals (at least the minimum) counts as a lost connection. Any message from
// the server is a sign of life.
class DeadPeerWatch final : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultMinimumSilenceMs = 90'000;

    explicit DeadPeerWatch(QObject* parent = nullptr);

    // A keep-alive probe arrived (isProbe) or any other message.
    void signOfLife(bool isProbe);
    // A new connection, or none: forgets what it has seen.
    void reset();

    bool armed() const { return m_silence.isActive(); }
    int silenceMilliseconds() const { return m_silence.interval(); }

    // Tests shorten the minimum so that a dead peer is found in seconds.
    static void setMinimumSilence(int milliseconds);

signals:
    // The server has said nothing for this long.
    void silent(int seconds);

private:
    QElapsedTimer m_lastProbe;
    int m_probes = 0;
    QTimer m_silence;
};
