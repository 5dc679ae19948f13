#include "serverlog.h"

#include "printable.h"

#include <QDateTime>
#include <cstdio>

namespace serverlog {

namespace {
bool g_enabled = true;
}

void write(const QString& line)
{
    if (!g_enabled)
        return;
    // Lines carry names and numbers that clients and other programs wrote: one of them
    // holding a line end could forge a line, an escape sequence would reach the terminal.
    const QString stamped =
        QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd HH:mm:ss] ")) +
        printable::escaped(line) + QLatin1Char('\n');
    std::fputs(stamped.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void setEnabled(bool enabled)
{
    g_enabled = enabled;
}

} // namespace serverlog
