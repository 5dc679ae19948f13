#include "modemsource.h"

#include <utility>

ModemSource::ModemSource(const QString& device, SourceTiming timing, QObject* parent)
    : CallSource(parent), m_device(device), m_timing(timing), m_pause(timing.firstRetryMs)
{
    // Read as it comes and split into lines at once; this only bounds a burst.
    m_port.setReadBufferSize(4096);
    connect(&m_port, &QSerialPort::readyRead, this, &ModemSource::readBytes);
    // Queued: the port is closed after it has finished telling. A device that hung up (a
    // modem pulled out) reads as an end of file, which the port tells as a read error with
    // a meaningless text.
    connect(
        &m_port, &QSerialPort::errorOccurred, this,
        [this](QSerialPort::SerialPortError error) {
            if (m_state == State::Closed)
                return;
            if (error == QSerialPort::ReadError)
                fail(QStringLiteral("the modem is gone"));
            else if (error == QSerialPort::ResourceError || error == QSerialPort::WriteError)
                fail(m_port.errorString());
        },
        Qt::QueuedConnection);
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, [this] {
        if (m_state == State::Closed)
            open();
        else
            fail(QStringLiteral("the modem does not answer"));
    });
    m_ringGap.setSingleShot(true);
    m_ringGap.setInterval(m_timing.ringGapMs);
    connect(&m_ringGap, &QTimer::timeout, this, [this] {
        // A caller-ID that came with a single RING still tells who called.
        if (!m_announced && (m_callerId.numberGiven || m_callerId.nameGiven))
            announce();
        m_inCall = false;
    });
}

void ModemSource::open()
{
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        fail(m_port.errorString());
        return;
    }
    // A modem takes what it is sent at any of these; a pseudo-terminal may refuse some.
    m_port.setBaudRate(QSerialPort::Baud115200);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.clear(); // what the modem said while nobody listened
    m_port.clearError();
    send("AT Z\r", State::Resetting);
}

void ModemSource::send(const QByteArray& command, State next)
{
    m_command = command.trimmed();
    m_state = next;
    m_port.write(command);
    m_wait.start(m_timing.connectTimeoutMs);
}

// Closes the device and tries again after a pause that grows with each failed try.
void ModemSource::fail(const QString& why)
{
    m_port.close();
    m_state = State::Closed;
    m_ringGap.stop();
    m_inCall = false;
    m_line.clear();
    m_skipping = false;
    setDown(why);
    m_wait.start(m_pause);
    m_pause = qMin(m_pause * 2, m_timing.longestRetryMs);
}

void ModemSource::readBytes()
{
    const QByteArray bytes = m_port.readAll();
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            const QByteArray line = std::exchange(m_line, {});
            if (!std::exchange(m_skipping, false) && !line.isEmpty())
                takeLine(line);
            if (m_state == State::Closed)
                return;
        } else if (m_skipping) {
            continue;
        } else if (m_line.size() == MaxLine) {
            m_skipping = true;
            m_line.clear();
        } else {
            m_line += c;
        }
    }
}

void ModemSource::takeSetUpAnswer(const QByteArray& answer)
{
    if (answer == "OK" && m_state == State::Resetting) {
        send("AT+VCID=1\r", State::AskingVcid);
    } else if (answer == "OK") {
        m_state = State::Listening;
        m_wait.stop();
        m_pause = m_timing.firstRetryMs;
        setUp();
    } else if (answer == "ERROR" && m_state == State::AskingVcid) {
        send("AT#CID=1\r", State::AskingCid);
    } else if (answer == "ERROR") {
        fail(QStringLiteral("the modem refuses ") + QString::fromLatin1(m_command));
    }
    // Anything else is the modem echoing the command.
}

// A call starts with its first RING, or with caller-ID sent before it as some lines do.
// The caller-ID is announced as soon as it is whole: a hex message at once; formatted lines
// once both the number (NMBR, DDN_NMBR) and the name came, in whatever order, or at the
// next RING, which ends the block however far it got (a line may send no name). A call
// without caller-ID is announced at its second RING, so that a stray single RING is not a
// call. RINGs after that announce nothing until the line has been quiet for the ring gap.
void ModemSource::takeLine(const QByteArray& line)
{
    const QByteArray word = line.trimmed().toUpper();
    if (m_state != State::Listening) {
        takeSetUpAnswer(word);
        return;
    }
    if (word == "RING") {
        if (!m_inCall)
            startCall();
        m_ringGap.start();
        ++m_rings;
        const bool heard = m_callerId.numberGiven || m_callerId.nameGiven;
        if (!m_announced && (m_rings >= 2 || heard))
            announce();
        return;
    }
    if (m_inCall && m_announced)
        return;
    callerid::CallerId id = m_inCall ? m_callerId : callerid::CallerId{};
    const callerid::LineKind kind = callerid::readLine(line, &id);
    if (kind == callerid::LineKind::Other)
        return;
    if (!m_inCall)
        startCall();
    m_callerId = id;
    if (kind == callerid::LineKind::Whole || (id.numberGiven && id.nameGiven))
        announce();
}

void ModemSource::startCall()
{
    m_inCall = true;
    m_announced = false;
    m_rings = 0;
    m_callerId = {};
    m_ringGap.start();
}

void ModemSource::announce()
{
    m_announced = true;
    IncomingCall call;
    call.line = QStringLiteral("analogue");
    call.number = m_callerId.number;
    call.name = m_callerId.name;
    emit callCame(call);
}
