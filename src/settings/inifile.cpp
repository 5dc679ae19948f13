#include "settings/inifile.h"

#include "settings/inivalue.h"

#include <QByteArrayView>
#include <QList>

namespace inifile {

namespace {

const QByteArrayView ByteOrderMark("\xEF\xBB\xBF");

// One line of the file: its bytes without the line ending, and the ending itself.
struct Line {
    QByteArrayView text;
    QByteArrayView end;
};

QList<Line> splitLines(QByteArrayView file)
{
    QList<Line> lines;
    while (!file.isEmpty()) {
        // A line ends in LF, CR LF or a lone CR.
        qsizetype length = 0;
        while (length < file.size() && file[length] != '\n' && file[length] != '\r')
            ++length;
        qsizetype endLength = 0;
        if (length < file.size())
            endLength = file.sliced(length).startsWith("\r\n") ? 2 : 1;
        lines.append({file.first(length), file.sliced(length, endLength)});
        file = file.sliced(length + endLength);
    }
    if (!lines.isEmpty() && lines.front().text.startsWith(ByteOrderMark))
        lines.front().text = lines.front().text.sliced(ByteOrderMark.size());
    return lines;
}

// What a line means to the reader.
struct Meaning {
    enum Kind { Other, Section, Entry } kind = Other;
    QString name;         // the section's or the key's
    QByteArrayView field; // an entry's bytes after the '='
};

Meaning meaningOf(QByteArrayView text)
{
    const QByteArrayView trimmed = text.trimmed();
    if (trimmed.startsWith('[')) {
        const qsizetype close = trimmed.indexOf(']');
        const QByteArrayView name = trimmed.first(close < 0 ? trimmed.size() : close).sliced(1);
        return {Meaning::Section, QString::fromUtf8(name.trimmed()), {}};
    }
    const qsizetype equals = trimmed.indexOf('=');
    if (equals < 0 || trimmed.startsWith(';') || trimmed.startsWith('#'))
        return {};
    return {Meaning::Entry, QString::fromUtf8(trimmed.first(equals).trimmed()),
            text.sliced(text.indexOf('=') + 1)};
}

// Where the key's line is (its last one), and the line after which a new key would go
// (after the last entry of the section's last occurrence); -1 for none.
struct Place {
    qsizetype keyLine = -1;
    qsizetype insertAfter = -1;
};

Place find(const QList<Line>& lines, const QString& section, const QString& key)
{
    Place place;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Meaning meaning = meaningOf(lines[i].text);
        if (meaning.kind == Meaning::Section)
            inSection = meaning.name == section;
        if (!inSection || meaning.kind == Meaning::Other)
            continue;
        place.insertAfter = i;
        if (meaning.kind == Meaning::Entry && meaning.name == key)
            place.keyLine = i;
    }
    return place;
}

QByteArray lineEndingOf(const QList<Line>& lines)
{
    for (const Line& line : lines) {
        if (!line.end.isEmpty())
            return line.end.toByteArray();
    }
    return QByteArrayLiteral("\n");
}

} // namespace

QString value(const QByteArray& file, const QString& section, const QString& key)
{
    const QList<Line> lines = splitLines(file);
    const Place place = find(lines, section, key);
    if (place.keyLine < 0)
        return QString();
    return inivalue::decode(meaningOf(lines[place.keyLine].text).field);
}

QByteArray withValue(const QByteArray& file, const QString& section, const QString& key,
                     const QString& text)
{
    const QList<Line> lines = splitLines(file);
    const Place place = find(lines, section, key);
    const QByteArray eol = lineEndingOf(lines);
    const QByteArray entry = key.toUtf8() + '=' + inivalue::encode(text);
    const auto offset = [&file](const char* at) { return qsizetype(at - file.constData()); };

    if (place.keyLine >= 0) {
        const Line& old = lines[place.keyLine];
        return file.first(offset(old.text.cbegin())) + entry + file.sliced(offset(old.text.cend()));
    }
    if (place.insertAfter >= 0) {
        const Line& last = lines[place.insertAfter];
        if (last.end.isEmpty())
            return file + eol + entry + eol;
        const qsizetype cut = offset(last.end.cend());
        return file.first(cut) + entry + last.end.toByteArray() + file.sliced(cut);
    }
    QByteArray result = file;
    if (!lines.isEmpty()) {
        if (lines.back().end.isEmpty())
            result += eol;
        if (!lines.back().text.trimmed().isEmpty())
            result += eol; // a blank line before the new section
    }
    return result + '[' + section.toUtf8() + ']' + eol + entry + eol;
}

} // namespace inifile
