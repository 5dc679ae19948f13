#include "fritzboxsource.h"

#include "printable.h"
#include "serverlog.h"

#include <utility>

namespace {

// The fields of a monitor line this source knows ("date;KIND;id;…"), or none: a known
// kind with at least the fields it needs (a RING or CALL names the device it went through).
QStringList knownFields(const QByteArray& line)
{
    const QStringList fields = QString::fromUtf8(line).split(';');
    if (fields.size() < 3)
        return {};
    const QString& kind = fields[1];
    const qsizetype needed = kind == QLatin1String("RING")         ? 6
                             : kind == QLatin1String("CALL")       ? 7
                             : kind == QLatin1String("CONNECT")    ? 5
                             : kind == QLatin1String("DISCONNECT") ? 4
                                                                   : -1;
    return needed > 0 && fields.size() >= needed ? fields : QStringList();
}

} // namespace

FritzboxSource::FritzboxSource(const QString& host, quint16 port, SourceTiming timing,
                               QObject* parent)
    : NetworkSource(QStringLiteral("fritzbox"), host, port, false, timing, parent)
{
}

void FritzboxSource::connected()
{
    m_toldUnknown = false;
    setUp();
}

void FritzboxSource::lineReceived(const QByteArray& line)
{
    if (line.trimmed().isEmpty())
        return;
    const QStringList f = knownFields(line);
    if (f.isEmpty()) {
        if (!std::exchange(m_toldUnknown, true))
            serverlog::write(name() + ": ignored a line it does not know: " +
                             printable::escaped(QString::fromUtf8(line.left(80))));
        return;
    }
    const QString& kind = f[1];
    if (kind == QLatin1String("RING")) {
        IncomingCall call;
        call.number = f[3].trimmed();
        call.called = f[4].trimmed();
        call.line = call.called;
        emit callCame(call);
        return;
    }
    const auto field = [&f](int i) { return printable::escaped(f[i].trimmed()); };
    const QString call = name() + ": call " + field(2);
    if (kind == QLatin1String("CALL"))
        serverlog::write(call + " out from extension " + field(3) + " (" + field(4) + ") to " +
                         field(5));
    else if (kind == QLatin1String("CONNECT"))
        serverlog::write(call + " answered at extension " + field(3) + " (" + field(4) + ')');
    else
        serverlog::write(call + " ended after " + field(3) + " s");
}
