#pragma once

#include <QFile>
#include <QString>

// One field of a process's /proc/PID/status ("VmRSS:", "VmHWM:"), or "?".
inline QString statusField(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return QString::fromLatin1(line.mid(qstrlen(field)).simplified());
    }
    return QStringLiteral("?");
}
