#include "printable.h"

#include <algorithm>

namespace printable {

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x061C || u == 0x200E || u == 0x200F ||
           (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

QString escaped(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!isControl(c))
            out += c;
        else if (c.unicode() < 0x100)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace printable
