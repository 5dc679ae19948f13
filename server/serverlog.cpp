#include "serverlog.h"

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
    const QString stamped =
        QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd HH:mm:ss] ")) + line +
        QLatin1Char('\n');
    std::fputs(stamped.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void setEnabled(bool enabled)
{
    g_enabled = enabled;
}

} // namespace serverlog
