#pragma once

#include <QString>

// One call source as the configuration names it: `modem = /dev/ttyACM0`,
// `fritzbox = HOST[:1012]`, `ami = [ami://|amis://]HOST[:5038|5039]`.
struct SourceSpec {
    enum class Kind { Modem, Fritzbox, Ami };
    Kind kind = Kind::Modem;
    QString device; // a modem's
    QString host;
    quint16 port = 0;
    bool tls = false; // amis://
    QString user;     // the PBX's manager login
    QString secret;
};

namespace sourcespec {

// The configuration keys, by kind: "modem", "fritzbox", "ami".
QString key(SourceSpec::Kind kind);

// The source the value names; false with why in *error (not naming the key).
bool parse(SourceSpec::Kind kind, const QString& value, SourceSpec* spec, QString* error);

} // namespace sourcespec
