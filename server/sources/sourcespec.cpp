#include "sourcespec.h"

#include <QUrl>

namespace sourcespec {

QString key(SourceSpec::Kind kind)
{
    switch (kind) {
    case SourceSpec::Kind::Modem:
        return QStringLiteral("modem");
    case SourceSpec::Kind::Fritzbox:
        return QStringLiteral("fritzbox");
    case SourceSpec::Kind::Ami:
        break;
    }
    return QStringLiteral("ami");
}

bool parse(SourceSpec::Kind kind, const QString& value, SourceSpec* spec, QString* error)
{
    *spec = SourceSpec();
    spec->kind = kind;
    const QString text = value.trimmed();
    if (kind == SourceSpec::Kind::Modem) {
        if (!text.startsWith(QLatin1Char('/'))) {
            *error = QStringLiteral("\"%1\" is not the path of a serial device, such as "
                                    "/dev/ttyACM0.")
                         .arg(text);
            return false;
        }
        spec->device = text;
        return true;
    }
    QString address = text;
    if (kind == SourceSpec::Kind::Ami) {
        spec->tls = address.startsWith(QLatin1String("amis://"));
        if (spec->tls || address.startsWith(QLatin1String("ami://")))
            address = address.mid(address.indexOf(QLatin1Char('/')) + 2);
    }
    // Read as the authority of a URL, which knows names, addresses and [IPv6]:port.
    const QUrl url(QStringLiteral("x://") + address, QUrl::StrictMode);
    const int defaultPort = kind == SourceSpec::Kind::Fritzbox ? 1012 : spec->tls ? 5039 : 5038;
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() ||
        !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() ||
        address.endsWith(QLatin1Char(':')) || url.port(defaultPort) == 0) {
        *error = QStringLiteral("\"%1\" is not HOST or HOST:PORT%2.")
                     .arg(text, kind == SourceSpec::Kind::Ami
                                    ? QStringLiteral(" (after ami:// or amis://, if any)")
                                    : QString());
        return false;
    }
    spec->host = url.host();
    spec->port = static_cast<quint16>(url.port(defaultPort));
    return true;
}

} // namespace sourcespec
