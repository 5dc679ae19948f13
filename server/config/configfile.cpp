#include "configfile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace configfile {

bool parse(const QByteArray& text, QList<Entry>* entries, QString* error)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(text);
    if (utf8.hasError()) {
        *error = QStringLiteral("it is not UTF-8 text.");
        return false;
    }
    const QStringList lines = decoded.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        const QString line = lines.at(i).trimmed();
        const auto fail = [&](const QString& why) {
            *error = QStringLiteral("line %1: %2").arg(number).arg(why);
            return false;
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;
        // The line itself is not quoted back: it might be a password put here by mistake.
        for (const QChar c : line) {
            if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
                return fail(QStringLiteral("it holds a control character."));
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(QStringLiteral("it is not of the form key = value."));
        Entry entry{number, line.left(equals).trimmed(), line.mid(equals + 1).trimmed()};
        if (entry.key.isEmpty())
            return fail(QStringLiteral("it has no key before the \"=\"."));
        entries->append(entry);
    }
    return true;
}

bool read(const QString& path, QList<Entry>* entries, QString* error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        *error = QFileInfo::exists(path)
                     ? QStringLiteral("the configuration file %1 is not a regular file.").arg(path)
                     : QStringLiteral("the configuration file %1 does not exist.").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the configuration file %1 cannot be read: %2.")
                     .arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.read(MaxBytes + 1);
    if (text.size() > MaxBytes) {
        *error = QStringLiteral("the configuration file %1 is larger than %2 KiB.")
                     .arg(path)
                     .arg(MaxBytes / 1024);
        return false;
    }
    if (!parse(text, entries, error)) {
        *error = QStringLiteral("%1, %2").arg(path, *error);
        return false;
    }
    return true;
}

} // namespace configfile
