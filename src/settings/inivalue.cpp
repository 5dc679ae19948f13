#include "settings/inivalue.h"

namespace inivalue {

namespace {

const QLatin1String StringPrefix("@String(");
const QLatin1String BytesPrefix("@ByteArray(");
const QLatin1String NoValue("@Invalid()");
const QLatin1Char Marker('@');

// The single-letter escapes, as pairs of the letter and the character it stands for.
constexpr char LetterEscapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                     {'r', '\r'}, {'t', '\t'}, {'v', '\v'}};

// The digit's value, or -1 for a character that is no hex digit.
int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char letterFor(char16_t c)
{
    for (const auto& escape : LetterEscapes) {
        if (c == char16_t(escape[1]))
            return escape[0];
    }
    return 0;
}

char characterFor(char letter)
{
    for (const auto& escape : LetterEscapes) {
        if (letter == escape[0])
            return escape[1];
    }
    return 0;
}

// Text that starts with the marker, or holds a NUL, is stored in a marked form; other
// marked forms stand for values that are no text.
QString markedForm(const QString& text)
{
    if (text.contains(QChar::Null))
        return StringPrefix + text + QLatin1Char(')');
    if (text.startsWith(Marker))
        return Marker + text;
    return text;
}

QString fromMarkedForm(const QString& text)
{
    if (!text.startsWith(Marker))
        return text;
    if (text.endsWith(QLatin1Char(')'))) {
        if (text.startsWith(BytesPrefix))
            return QString::fromUtf8(text.mid(BytesPrefix.size()).chopped(1).toLatin1());
        if (text.startsWith(StringPrefix))
            return text.mid(StringPrefix.size()).chopped(1);
        if (text == NoValue)
            return QString();
    }
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    return text;
}

// Escapes backslashes, double quotes and control characters; a hex digit right after a
// numeric escape is escaped too, so that it cannot be read as part of that escape.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 4);
    bool afterNumber = false;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        const char letter = c < 0x20 ? letterFor(c) : 0;
        const bool numeric = c == 0 || (c < 0x20 && !letter) || (afterNumber && hexValue(c) >= 0);
        afterNumber = numeric;
        if (c == 0) {
            out += QLatin1String("\\0");
        } else if (numeric) {
            out += QLatin1String("\\x") + QString::number(c, 16);
        } else if (letter || c == '\\' || c == '"') {
            out += QLatin1Char('\\');
            out += letter ? QLatin1Char(letter) : qc;
        } else {
            out += qc;
        }
    }
    return out;
}

// The length of the escape at field[at] (a backslash), or 0 when that backslash is an
// ordinary character; the character it stands for goes to *result.
qsizetype readEscape(QByteArrayView field, qsizetype at, char16_t* result)
{
    if (at + 1 >= field.size())
        return 0;
    const char letter = field[at + 1];
    if (letter == '\\' || letter == '"' || letter == '0') {
        *result = letter == '0' ? 0 : letter;
        return 2;
    }
    if (const char c = characterFor(letter)) {
        *result = char16_t(c);
        return 2;
    }
    if (letter != 'x' || at + 2 >= field.size() || hexValue(field[at + 2]) < 0)
        return 0;
    qsizetype end = at + 2;
    char16_t value = 0;
    for (int digit; end < field.size() && (digit = hexValue(field[end])) >= 0; ++end)
        value = char16_t(value << 4 | digit);
    *result = value;
    return end - at;
}

QString unescaped(QByteArrayView field)
{
    QString out;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < field.size(); ++i) {
        char16_t c = 0;
        const qsizetype length = field[i] == '\\' ? readEscape(field, i, &c) : 0;
        if (length == 0)
            continue;
        out += QString::fromUtf8(field.sliced(runStart, i - runStart));
        out += QChar(c);
        i += length - 1;
        runStart = i + 1;
    }
    return out + QString::fromUtf8(field.sliced(runStart));
}

// Whether the field is one quoted run: it opens with a double quote, and the first
// unescaped double quote after that is its last byte.
bool isQuoted(QByteArrayView field)
{
    if (field.size() < 2 || field.front() != '"')
        return false;
    for (qsizetype i = 1; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 1 < field.size() && (field[i + 1] == '\\' || field[i + 1] == '"'))
            ++i;
        else if (c == '"')
            return i == field.size() - 1;
    }
    return false;
}

} // namespace

QByteArray encode(const QString& text)
{
    const QString stored = markedForm(text);
    QString out = escaped(stored);
    const bool separators = stored.contains(QLatin1Char(';')) ||
                            stored.contains(QLatin1Char(',')) || stored.contains(QLatin1Char('='));
    if (separators || out.startsWith(QLatin1Char(' ')) || out.endsWith(QLatin1Char(' ')))
        out = QLatin1Char('"') + out + QLatin1Char('"');
    return out.toUtf8();
}

QString decode(QByteArrayView field)
{
    const QByteArrayView value = field.trimmed();
    return fromMarkedForm(isQuoted(value) ? unescaped(value.sliced(1, value.size() - 2))
                                          : unescaped(value));
}

} // namespace inivalue
