#pragma once

#include "networksource.h"

#include <QSet>
#include <deque>

struct AmiSettings {
    QString host;
    quint16 port = 5038;
    bool tls = false; // with TLS the PBX's certificate and host name are checked
    QString user;
    QString secret;
};

// A PBX's manager interface. The PBX greets with one line ("Asterisk Call Manager/5.0.2");
// then each message is a run of "Key: Value" lines ending with a blank line. The source
// logs in for call events (with TLS only once the connection is encrypted) and is up when
// the login succeeds; a refused login is a failed try, retried with the growing pause.
//
// A call is announced once per Linkedid, at the first of:
//  - a Newchannel whose Uniqueid is its Linkedid (the call's first channel): the number
//    and name are its CallerIDNum and CallerIDName, the number called its Exten;
//  - a Newstate "Ringing" of another channel of the call (the phone being rung, when the
//    first channel was missed): the number and name are its ConnectedLineNum and
//    ConnectedLineName, the number called is not known.
// "<unknown>" or nothing means not given: an empty number is an unknown caller. The line
// is "ami HOST" whether or not over TLS, as a Linkedid is a call and not a line and the
// channel's extension is not always a number; calls from one PBX are on one line.
//
// A message of more than MaxMessageLines lines or MaxMessageBytes bytes is skipped whole,
// up to its blank line, and the connection kept: no call event is that big, and a big
// event of another kind is no reason to reconnect; nothing of it is held past the bound.
class AmiSource final : public NetworkSource {
    Q_OBJECT
public:
    static constexpr qsizetype MaxMessageLines = 64;
    static constexpr qsizetype MaxMessageBytes = 16 * 1024;
    static constexpr qsizetype RememberedCalls = 256;

    explicit AmiSource(const AmiSettings& settings, SourceTiming timing = {},
                       QObject* parent = nullptr);

protected:
    void connected() override;
    void lineReceived(const QByteArray& line) override;

private:
    enum class Stage { Greeting, LoggingIn, Listening };

    void handle(const QList<QByteArray>& message);
    void announce(const QString& linkedId, const QString& number, const QString& name,
                  const QString& called);

    const AmiSettings m_settings;
    Stage m_stage = Stage::Greeting;
    QList<QByteArray> m_message; // the lines so far of the message being read
    qsizetype m_messageBytes = 0;
    bool m_skipping = false; // the message being read has grown past the bound
    bool m_toldSkipped = false;
    QSet<QString> m_announced; // Linkedids announced, the last RememberedCalls of them
    std::deque<QString> m_announcedOrder;
};
