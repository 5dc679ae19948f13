#pragma once

#include "calleridblock.h"
#include "callsource.h"

#include <QSerialPort>
#include <QTimer>

// A voice or data modem on an analogue line that reports caller-ID: a serial device
// (/dev/ttyACM0, /dev/ttyUSB0). Once started it resets the modem and turns caller-ID on
// (AT+VCID=1, or AT#CID=1 on modems without it), then reports one call per ringing.
//
// Every modem of a site is taken to hang on the same line: its calls come with the line
// "analogue", so that two modems on one line report each call once after merging.
class ModemSource final : public CallSource {
    Q_OBJECT
public:
    ModemSource(const QString& device, SourceTiming timing = {}, QObject* parent = nullptr);

    QString name() const override { return QStringLiteral("modem ") + m_device; }
    void start() override { open(); }

    // Longer lines are dropped: caller-ID lines are short.
    static constexpr int MaxLine = 512;

private:
    enum class State { Closed, Resetting, AskingVcid, AskingCid, Listening };

    void open();
    void send(const QByteArray& command, State next);
    void fail(const QString& why);
    void readBytes();
    void takeLine(const QByteArray& line);
    void takeSetUpAnswer(const QByteArray& answer);
    void startCall();
    void announce();

    const QString m_device;
    const SourceTiming m_timing;
    QSerialPort m_port;
    QTimer m_wait{this};    // set-up's deadline, or the pause before the next try
    QTimer m_ringGap{this}; // runs during a call only: no RING for this long ends it
    State m_state = State::Closed;
    QByteArray m_command; // the set-up command last sent
    int m_pause;
    QByteArray m_line;
    bool m_skipping = false; // dropping the rest of an over-long line

    // The call ringing now.
    bool m_inCall = false;
    bool m_announced = false;
    int m_rings = 0;
    callerid::CallerId m_callerId;
};
