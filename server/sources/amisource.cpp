#include "amisource.h"

#include "printable.h"
#include "serverlog.h"

#include <utility>

namespace {

// The value of the first "Key: Value" line of the message with that key (the key in any
// case), or an empty text.
QString valueOf(const QList<QByteArray>& message, QByteArrayView key)
{
    for (const QByteArray& line : message) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 &&
            QByteArrayView(line).first(colon).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(line.mid(colon + 1).trimmed());
    }
    return {};
}

// A caller's number or name as given; "<unknown>" is not given.
QString given(const QString& value)
{
    return value == QLatin1String("<unknown>") ? QString() : value;
}

} // namespace

AmiSource::AmiSource(const AmiSettings& settings, SourceTiming timing, QObject* parent)
    : NetworkSource(QLatin1String(settings.tls ? "amis" : "ami"), settings.host, settings.port,
                    settings.tls, timing, parent),
      m_settings(settings)
{
}

void AmiSource::connected()
{
    m_stage = Stage::Greeting;
    m_message.clear();
    m_messageBytes = 0;
    m_skipping = false;
    m_toldSkipped = false;
}

void AmiSource::lineReceived(const QByteArray& line)
{
    if (m_stage == Stage::Greeting) {
        if (!line.contains("Call Manager"))
            return fail("not a manager interface: " +
                        printable::escaped(QString::fromUtf8(line.left(80))));
        const QString fields = m_settings.user + m_settings.secret;
        if (fields.contains('\r') || fields.contains('\n'))
            return fail(QStringLiteral("the user or secret holds a line break"));
        m_stage = Stage::LoggingIn;
        send("Action: Login\r\nUsername: " + m_settings.user.toUtf8() +
             "\r\nSecret: " + m_settings.secret.toUtf8() + "\r\nEvents: call\r\n\r\n");
        return;
    }
    if (!line.isEmpty()) {
        if (m_skipping)
            return;
        m_messageBytes += line.size();
        if (m_message.size() < MaxMessageLines && m_messageBytes <= MaxMessageBytes) {
            m_message.append(line);
            return;
        }
        m_skipping = true;
        m_message.clear();
        if (!std::exchange(m_toldSkipped, true))
            serverlog::write(name() + ": skipped a message of more than " +
                             QString::number(MaxMessageLines) + " lines or " +
                             QString::number(MaxMessageBytes) + " bytes");
        return;
    }
    const QList<QByteArray> message = std::exchange(m_message, {});
    m_messageBytes = 0;
    if (!std::exchange(m_skipping, false) && !message.isEmpty())
        handle(message);
}

void AmiSource::handle(const QList<QByteArray>& message)
{
    if (m_stage == Stage::LoggingIn) {
        const QString response = valueOf(message, "Response");
        if (response.isEmpty())
            return;
        if (response.compare(QLatin1String("Success"), Qt::CaseInsensitive) != 0)
            return fail("login refused: " + printable::escaped(valueOf(message, "Message")));
        m_stage = Stage::Listening;
        setUp();
        return;
    }
    const QString linkedId = valueOf(message, "Linkedid");
    if (linkedId.isEmpty() || m_announced.contains(linkedId))
        return;
    const QString event = valueOf(message, "Event");
    const bool firstChannel = valueOf(message, "Uniqueid") == linkedId;
    if (event == QLatin1String("Newchannel") && firstChannel) {
        QString called = given(valueOf(message, "Exten"));
        if (called == QLatin1String("s")) // the dialplan's start, not a number
            called.clear();
        announce(linkedId, given(valueOf(message, "CallerIDNum")),
                 given(valueOf(message, "CallerIDName")), called);
    } else if (event == QLatin1String("Newstate") && !firstChannel &&
               valueOf(message, "ChannelStateDesc") == QLatin1String("Ringing")) {
        announce(linkedId, given(valueOf(message, "ConnectedLineNum")),
                 given(valueOf(message, "ConnectedLineName")), {});
    }
}

void AmiSource::announce(const QString& linkedId, const QString& number, const QString& name,
                         const QString& called)
{
    m_announced.insert(linkedId);
    m_announcedOrder.push_back(linkedId);
    if (m_announcedOrder.size() > size_t(RememberedCalls)) {
        m_announced.remove(m_announcedOrder.front());
        m_announcedOrder.pop_front();
    }
    IncomingCall call;
    call.line = "ami " + host();
    call.number = number;
    call.name = name;
    call.called = called;
    emit callCame(call);
}
