#include "modemsim.h"

#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ModemSim::ModemSim(QObject* parent) : QObject(parent)
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("ModemSim: no pseudo-terminal");
    m_path = QString::fromLocal8Bit(name);
    // The slave stays open here too, so that the master does not see a hang-up while the
    // program under test has it closed. Raw: no echo, no line editing, bytes as they are.
    termios raw{};
    ::tcgetattr(m_slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ModemSim::readCommands);
}

ModemSim::~ModemSim()
{
    unplug();
}

void ModemSim::unplug()
{
    delete m_notifier;
    m_notifier = nullptr;
    for (int* fd : {&m_master, &m_slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

// What does not fit into the pseudo-terminal is lost, as with a modem that nobody reads.
void ModemSim::write(const QByteArray& bytes)
{
    for (qsizetype at = 0; m_master >= 0 && at < bytes.size();) {
        const ssize_t n = ::write(m_master, bytes.constData() + at, size_t(bytes.size() - at));
        if (n <= 0)
            return;
        at += n;
    }
}

void ModemSim::playCall(const QByteArray& block, int rings)
{
    write("\r\nRING\r\n" + (block.isEmpty() ? QByteArray() : "\r\n" + block));
    m_rings = 1;
    if (rings <= 1)
        QTimer::singleShot(0, this, &ModemSim::played);
    for (int i = 1; i < rings; ++i) {
        QTimer::singleShot(pauseMs * i, this, [this, last = i == rings - 1] {
            write("\r\nRING\r\n");
            ++m_rings;
            if (last)
                emit played();
        });
    }
}

// Commands end with a carriage return; each is echoed and answered.
void ModemSim::readCommands()
{
    char buffer[1024];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0)
        return;
    m_input.append(buffer, n);
    for (qsizetype end; (end = m_input.indexOf('\r')) >= 0;) {
        const QByteArray command = m_input.left(end).trimmed();
        m_input.remove(0, end + 1);
        if (command.isEmpty())
            continue;
        m_commands << QString::fromLatin1(command);
        const bool refused = command == "AT+VCID=1" && !knowsVcid;
        if (!silent)
            write(command + "\r\r\n" + (refused ? "ERROR" : "OK") + "\r\n");
    }
    if (m_input.size() > 4096)
        m_input.clear();
}
