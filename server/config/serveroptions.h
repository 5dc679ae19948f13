#pragma once

#include "serverconfig.h"

#include <QString>
#include <QStringList>

// The command line:
//   quillora-server [--config FILE] [--listen ADDR] [--port N]
//                   [--db FILE | --db postgresql://USER@HOST[:PORT]/DBNAME]
//                   [--db-password-file FILE] [--password-file FILE | --password TEXT] [--demo]
//                   [--simulate-calls SECONDS] [--control NAME] [--ping-interval SECONDS]
//                   [--max-clients N] [--max-contacts N] [--max-saves-per-minute N]
//                   [--allow-no-password] [--tls-port N --tls-cert FILE --tls-key FILE]
//                   [--plain on|loopback|off]
//   quillora-server ring [--config FILE] [--port N | --control NAME] NUMBER
//   quillora-server tls-init [--config FILE] --tls-cert FILE --tls-key FILE
// The configuration file sets the same options as `key = value` lines (see configfile.h),
// all but the password; what the command line gives wins. The password comes one way only:
// --password-file, QUILLORA_SERVER_PASSWORD in the environment or, visible to every local
// user in the process list, --password. The PostgreSQL password comes from
// --db-password-file or QUILLORA_DB_PASSWORD, never from the command line.
struct ServerOptions {
    enum class Mode { Serve, Ring, TlsInit, Help, Version, Error };
    Mode mode = Mode::Serve;

    ServerConfig config;
    QString databasePath;     // as --db gave it: a file path or a PostgreSQL URL
    QString databasePassword; // PostgreSQL; empty: libpq's own ways (~/.pgpass, trust)
    bool demo = false;
    int simulateSeconds = 0; // 0: no simulated calls
    QString ringNumber;
    bool checkSources = false; // start the call sources, tell which come up, and exit
    QString tlsCertFile; // tls-init: the files to make
    QString tlsKeyFile;

    // The password came with --password, where every local user can read it.
    bool passwordOnCommandLine = false;

    QString helpText;
    QString errorText;
    // Whether the error is in the use of the options, so that --help would help; not so
    // for a file or the environment that is wrong.
    bool suggestHelp = true;
};

inline constexpr char PasswordVariable[] = "QUILLORA_SERVER_PASSWORD";
inline constexpr char DbPasswordVariable[] = "QUILLORA_DB_PASSWORD";

// Clients refuse to store a password of 1 to this many characters, so a server that asked
// for one could never be reached: the password must be empty or longer.
inline constexpr int LongestRefusedPassword = 8;

// Reads the arguments (the program name first, as QCoreApplication::arguments() gives
// them) and the files they name; passwordVariable and dbPasswordVariable are the values of
// PasswordVariable and DbPasswordVariable, empty when unset. Never exits the program:
// help, version and errors come back as modes.
ServerOptions parseServerOptions(const QStringList& arguments,
                                 const QByteArray& passwordVariable = QByteArray(),
                                 const QByteArray& dbPasswordVariable = QByteArray());
