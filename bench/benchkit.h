#pragma once

// Shared by the server benchmarks: the server program started with its output in a file.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

namespace benchkit {

// Starts the server with its output in a file, not a pipe that it could fill while the bench
// looks elsewhere, and waits until it listens and has told its control socket (the last it
// tells); the port, or 0. What it wrote by then is in `output`.
inline quint16 startWithLog(QProcess& server, const QString& program, const QStringList& arguments,
                            const QString& logPath, QString* output = nullptr)
{
    static const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:(\\d+)"));
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.setStandardOutputFile(logPath);
    server.start(program, arguments);
    QString own;
    QString& text = output ? *output : own;
    for (const QDeadlineTimer deadline(15000); !deadline.hasExpired(); QThread::msleep(10)) {
        const bool ended = server.state() == QProcess::NotRunning;
        QFile log(logPath);
        text = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
        const auto match = listening.match(text);
        if (match.hasMatch() && text.contains(QLatin1String("Control socket:")))
            return match.captured(1).toUShort();
        if (ended)
            break;
    }
    return 0;
}

} // namespace benchkit
