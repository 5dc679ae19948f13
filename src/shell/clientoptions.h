#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the client.
struct ClientOptions {
    enum class Mode {
        Run,     // start the client
        Help,    // print `text` to standard output, exit 0
        Version, // print `text` to standard output, exit 0
        Error,   // print `text` to standard error, exit 2
    };
    Mode mode = Mode::Run;
    QString text;
};

// Reads the arguments (the first is the program's name). Qt's standard options
// (-platform, -style, -display, ...) and their values are accepted and left to Qt; the
// first help, version or unknown argument decides. Works on the raw arguments as well
// as on those Qt leaves over, so help and version can be answered before the
// application object (which needs a display) exists.
ClientOptions parseClientOptions(const QStringList& args);
