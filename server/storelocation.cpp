#include "storelocation.h"

#include <QUrl>

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
                                "postgresql://user@host[:port]/dbname; %1")
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
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("this one has no valid host."));
    if (url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("it takes no \"?\" or \"#\" part."));
    const QString database = url.path().mid(1);
    if (!url.path().startsWith(QLatin1Char('/')) || database.isEmpty() ||
        database.contains(QLatin1Char('/')))
        return fail(QStringLiteral("this one names no database."));
    location->kind = Kind::PostgreSQL;
    location->user = url.userName();
    location->host = url.host();
    location->port = url.port(5432);
    location->database = database;
    return true;
}

QString StoreLocation::display() const
{
    if (kind == Kind::SQLite)
        return path;
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("postgresql://%1%2:%3/%4")
        .arg(user.isEmpty() ? QString() : user + QLatin1Char('@'), shownHost)
        .arg(port)
        .arg(database);
}
