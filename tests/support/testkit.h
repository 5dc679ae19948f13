#pragma once

// Shared by the tests and benchmarks of both programs, with Qt Core alone: the server
// program started until it listens, a process's figures from /proc, a reset on close.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace testkit {

// Starts `binary` (stdout and stderr merged) and waits until it says "Listening on
// ADDRESS:PORT" (or, without a plain port, "Listening with TLS on"); the port, or 0. Everything it
// wrote meanwhile is added to `output`.
inline quint16 startListening(QProcess& process, const QString& binary,
                              const QStringList& arguments, QString* output = nullptr)
{
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    static const QRegularExpression tls(QStringLiteral("Listening with TLS on [0-9.]+:(\\d+)"));
    QString own;
    QString& text = output ? *output : own;
    const qsizetype from = text.size();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binary, arguments);
    const QDeadlineTimer deadline(15000);
    for (;;) {
        const bool ended = process.state() == QProcess::NotRunning;
        text += QString::fromUtf8(process.readAll());
        const auto match = listening.match(text, from);
        if (match.hasMatch())
            return match.captured(1).toUShort();
        if (text.indexOf(QLatin1String("Control socket:"), from) >= 0)
            return tls.match(text, from).captured(1).toUShort();
        if (ended || deadline.hasExpired())
            return 0;
        process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
    }
}

// The value of a line of /proc/PID/status ("VmRSS", "VmHWM", "Threads"; sizes in kB), -1
// where it cannot be read. pid 0 is this process.
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

// How many file descriptors this process holds; -1 where unreadable.
inline int openDescriptors()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    return fds.exists()
               ? int(fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size())
               : -1;
}

// Makes the next close of the socket a reset (RST) instead of an orderly close (FIN).
inline void resetOnClose(qintptr descriptor)
{
    linger reset{1, 0};
#ifdef Q_OS_WIN
    ::setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                 sizeof reset);
#else
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
#endif
}

} // namespace testkit
