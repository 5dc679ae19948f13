#pragma once

#include "serverconfig.h"

#include <QString>
#include <QStringList>

// The command line:
//   quillora-server [--listen ADDR] [--port N] [--db FILE] [--password TEXT] [--demo]
//                   [--simulate-calls SECONDS] [--control NAME] [--ping-interval SECONDS]
//   quillora-server ring [--port N | --control NAME] NUMBER
struct ServerOptions {
    enum class Mode { Serve, Ring, Help, Version, Error };
    Mode mode = Mode::Serve;

    ServerConfig config;
    QString databasePath;
    bool demo = false;
    int simulateSeconds = 0; // 0: no simulated calls
    QString ringNumber;

    QString helpText;
    QString errorText;
};

// Clients refuse to store a password of 1 to this many characters, so a server that asked
// for one could never be reached: --password must be empty or longer.
inline constexpr int LongestRefusedPassword = 8;

// Reads the arguments (the program name first, as QCoreApplication::arguments() gives
// them). Never exits the program: help, version and errors come back as modes.
ServerOptions parseServerOptions(const QStringList& arguments);
