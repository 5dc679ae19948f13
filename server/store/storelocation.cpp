#include "storelocation.h"

#include <QHostAddress>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

namespace {

const QStringList SslModes{QStringLiteral("disable"),   QStringLiteral("allow"),
                           QStringLiteral("prefer"),    QStringLiteral("require"),
                           QStringLiteral("verify-ca"), QStringLiteral("verify-full")};

// A link that stays on this machine, where a certificate proves little.
bool onThisMachine(const QString& host)
{
    return host.startsWith(QLatin1Char('/')) ||
           host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           QHostAddress(host).isLoopback();
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20; });
}

// A value in libpq's connection string: quoted, its quotes and backslashes escaped.
QString quoted(QString value)
{
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    value.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

} // namespace

bool StoreLocation::isPostgreSqlUrl(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

bool StoreLocation::parse(const QString& text, StoreLocation* location, QString* error)
{
    *location = StoreLocation();
    if (!isPostgreSqlUrl(text)) {
        location->path = text;
        return true;
    }
    const auto fail = [error](const QString& why) {
        *error = QStringLiteral("a PostgreSQL database is given as "
                                "postgresql://user@host[:port]/dbname"
                                "[?sslmode=MODE&sslrootcert=FILE]; %1")
                     .arg(why);
        return false;
    };
    // Looked at before QUrl, whose errors may quote the text.
    const qsizetype start = text.indexOf(QLatin1String("://")) + 3;
    const qsizetype at = text.indexOf(QLatin1Char('@'), start);
    const qsizetype slash = text.indexOf(QLatin1Char('/'), start);
    if (at >= 0 && (slash < 0 || at < slash) &&
        text.mid(start, at - start).contains(QLatin1Char(':')))
        return fail(QStringLiteral("it must not hold a password (give that with "
                                   "--db-password-file or QUILLORA_DB_PASSWORD)."));
    // A socket folder, "%2Frun%2Fpostgresql", is no host name to QUrl: it reads a stand-in.
    QString forUrl = text;
    QString socketFolder;
    const qsizetype hostStart = at >= 0 && (slash < 0 || at < slash) ? at + 1 : start;
    if (QStringView(text).mid(hostStart).startsWith(QLatin1String("%2F"), Qt::CaseInsensitive)) {
        qsizetype end = hostStart;
        while (end < text.size() && text[end] != QLatin1Char(':') && text[end] != QLatin1Char('/'))
            ++end;
        socketFolder = QUrl::fromPercentEncoding(text.mid(hostStart, end - hostStart).toUtf8());
        if (hasControlCharacter(socketFolder))
            return fail(QStringLiteral("this one's socket folder holds a control character."));
        forUrl.replace(hostStart, end - hostStart, QStringLiteral("localhost"));
    }
    const QUrl url(forUrl, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("this one has no valid host."));
    if (url.hasFragment())
        return fail(QStringLiteral("it takes no \"#\" part."));
    const QString database = url.path().mid(1);
    if (!url.path().startsWith(QLatin1Char('/')) || database.isEmpty() ||
        database.contains(QLatin1Char('/')))
        return fail(QStringLiteral("this one names no database."));

    StoreLocation parsed;
    parsed.kind = Kind::PostgreSQL;
    parsed.user = url.userName();
    parsed.host = socketFolder.isEmpty() ? url.host() : socketFolder;
    parsed.port = url.port(5432);
    parsed.database = database;
    QStringList given;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("sslmode")) {
            if (!SslModes.contains(value))
                return fail(QStringLiteral("sslmode \"%1\" is none of %2.")
                                .arg(value.left(32), SslModes.join(QLatin1String(", "))));
            parsed.sslMode = value;
        } else if (key == QLatin1String("sslrootcert")) {
            // ";" would end the value in the driver's connect options.
            if (value.isEmpty() || value.contains(QLatin1Char(';')) || hasControlCharacter(value))
                return fail(QStringLiteral("sslrootcert takes a file name without \";\"."));
            parsed.sslRootCert = value;
        } else {
            return fail(QStringLiteral("after \"?\" it takes sslmode and sslrootcert, not \"%1\".")
                            .arg(key.left(32)));
        }
        if (given.contains(key))
            return fail(QStringLiteral("it gives %1 twice.").arg(key));
        given << key;
    }
    if (parsed.sslMode.isEmpty())
        parsed.sslMode =
            onThisMachine(parsed.host) ? QStringLiteral("prefer") : QStringLiteral("verify-full");
    *location = parsed;
    return true;
}

QString StoreLocation::display() const
{
    if (kind == Kind::SQLite)
        return path;
    const QString shownHost =
        host.startsWith(QLatin1Char('/')) ? QString::fromLatin1(QUrl::toPercentEncoding(host))
        : host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                          : host;
    // Joined, not filled in with arg(), whose later passes would read a "%2F" of the socket
    // folder as a place to fill.
    QString shown = QLatin1String("postgresql://") +
                    (user.isEmpty() ? QString() : user + QLatin1Char('@')) + shownHost +
                    QLatin1Char(':') + QString::number(port) + QLatin1Char('/') + database +
                    QLatin1String("?sslmode=") + sslMode;
    if (!sslRootCert.isEmpty())
        shown += QLatin1String("&sslrootcert=") + sslRootCert;
    return shown;
}

QString StoreLocation::connectOptions() const
{
    QString options = QLatin1String("sslmode=") + sslMode;
    if (!sslRootCert.isEmpty())
        options += QLatin1String(";sslrootcert=") + quoted(sslRootCert);
    return options;
}
