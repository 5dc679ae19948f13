#pragma once

// What tests and benchmarks of both programs share and that needs neither the client nor
// the server library: starting the server program until it listens, reading a process's
// figures from /proc, and ending a connection with a reset.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QThread>

#include <sys/socket.h>

namespace testkit {

// Starts `binary` with `arguments` (stdout and stderr merged) and waits until it says
// "Listening on ADDRESS:PORT"; the port, or 0 when it ended or did not say so within
// `timeoutMs`. Everything it wrote meanwhile is added to `output` (if given).
inline quint16 startListening(QProcess& process, const QString& binary,
                              const QStringList& arguments, QString* output = nullptr,
                              int timeoutMs = 15000)
{
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    QString own;
    QString& text = output ? *output : own;
    const qsizetype from = text.size();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binary, arguments);
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        text += QString::fromUtf8(process.readAll());
        const auto match = listening.match(text, from);
        if (match.hasMatch())
            return match.captured(1).toUShort();
        if (process.state() == QProcess::NotRunning || deadline.hasExpired())
            return 0;
        // Waits for output, not for time: returns as soon as the program writes or ends.
        if (!process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000))) &&
            process.state() == QProcess::NotRunning)
            text += QString::fromUtf8(process.readAll());
    }
}

// The same for a program started with its output going to the file `logPath` (a program
// that writes much and is not read between steps would otherwise fill its pipe and stop):
// waits until the file says where it listens. What the file held then goes to `log`.
inline quint16 listeningPortIn(const QString& logPath, const QProcess& process,
                               QString* log = nullptr, int timeoutMs = 15000)
{
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QFile file(logPath);
        const QString text =
            file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        const auto match = listening.match(text);
        if (match.hasMatch() || process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            if (log)
                *log = text;
            return match.captured(1).toUShort();
        }
        QThread::msleep(10);
    }
}

// A line "Name:   value unit" of /proc/PID/status ("VmRSS", "VmHWM", "Threads") as a number
// (kB for sizes); -1 where it cannot be read. pid 0 is this process.
inline qint64 statusFigure(qint64 pid, const char* name)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status")
                          : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A figure of /proc/PID/status in kB as the benchmarks print it ("14544 kB", or "?").
inline QString statusText(qint64 pid, const char* name)
{
    const qint64 kB = statusFigure(pid, name);
    return kB < 0 ? QStringLiteral("?") : QStringLiteral("%1 kB").arg(kB);
}

// How many file descriptors the process holds (pid 0: this one); -1 where unreadable.
inline int openDescriptors(qint64 pid = 0)
{
    const QDir fds(pid == 0 ? QStringLiteral("/proc/self/fd")
                            : QStringLiteral("/proc/%1/fd").arg(pid));
    if (!fds.exists())
        return -1;
    return int(fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size());
}

// Makes the next close of the socket a reset (RST) instead of an orderly close (FIN).
inline void resetOnClose(qintptr descriptor)
{
    linger reset{1, 0};
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

} // namespace testkit
