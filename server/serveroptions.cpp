#include "serveroptions.h"

#include "controlchannel.h"
#include "database.h"

#include <QCommandLineParser>

namespace {

constexpr int MaxSeconds = 24 * 3600;

bool parseNumber(const QString& text, int min, int max, int* value)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < min || n > max)
        return false;
    *value = n;
    return true;
}

QString notSeconds(const QCommandLineOption& option, const QString& value)
{
    return QStringLiteral("--%1: \"%2\" is not a number of seconds from 1 to %3.")
        .arg(option.names().constFirst(), value)
        .arg(MaxSeconds);
}

} // namespace

ServerOptions parseServerOptions(const QStringList& arguments)
{
    ServerOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quillora caller-ID server: keeps contacts and the call log in SQLite "
                       "and announces calls to Quillora clients.\n\n"
                       "  quillora-server ring NUMBER   announces one call through the server "
                       "that is running (use the same --port or --control)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                    QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port (default 6996; 0 takes a free port "
                                                 "and prints it)."),
                                  QStringLiteral("N"), QStringLiteral("6996"));
    const QCommandLineOption db(
        QStringLiteral("db"),
        QStringLiteral("SQLite file (default %1).").arg(Database::defaultPath()),
        QStringLiteral("FILE"), Database::defaultPath());
    const QCommandLineOption password(
        QStringLiteral("password"),
        QStringLiteral("Password clients must send first, more than %1 characters long "
                       "(default: none asked for).")
            .arg(LongestRefusedPassword),
        QStringLiteral("TEXT"));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Fill an empty database with sample contacts and calls."));
    const QCommandLineOption simulate(QStringLiteral("simulate-calls"),
                                      QStringLiteral("Announce a made-up call every SECONDS."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption control(
        QStringLiteral("control"),
        QStringLiteral("Name of the local control socket that the ring command uses "
                       "(default quillora-server-PORT, PORT being the port listened on)."),
        QStringLiteral("NAME"));
    const QCommandLineOption ping(
        QStringLiteral("ping-interval"),
        QStringLiteral("Send each client a keep-alive probe every SECONDS (default 30); a "
                       "client silent for three of them is dropped."),
        QStringLiteral("SECONDS"), QStringLiteral("30"));
    parser.addOptions({listen, port, db, password, demo, simulate, control, ping});
    parser.addPositionalArgument(QStringLiteral("ring"),
                                 QStringLiteral("ring NUMBER: announce a call and exit."),
                                 QStringLiteral("[ring NUMBER]"));
    options.helpText = parser.helpText();

    auto fail = [&options](const QString& text) {
        options.mode = ServerOptions::Mode::Error;
        options.errorText = text;
        return options;
    };

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        options.mode = ServerOptions::Mode::Help;
        return options;
    }
    if (parser.isSet(version)) {
        options.mode = ServerOptions::Mode::Version;
        return options;
    }

    ServerConfig& config = options.config;
    if (!config.address.setAddress(parser.value(listen)))
        return fail(
            QStringLiteral("--listen: \"%1\" is not an IP address.").arg(parser.value(listen)));
    int portNumber = 0;
    if (!parseNumber(parser.value(port), 0, 65535, &portNumber))
        return fail(QStringLiteral("--port: \"%1\" is not a port from 0 to 65535.")
                        .arg(parser.value(port)));
    config.port = static_cast<quint16>(portNumber);
    config.password = parser.value(password);
    // Counted as the client counts it: in UTF-16 code units, not bytes.
    if (!config.password.isEmpty() && config.password.size() <= LongestRefusedPassword)
        return fail(QStringLiteral("--password: it has %1 characters, but Quillora clients only "
                                   "accept passwords of more than %2 characters.")
                        .arg(config.password.size())
                        .arg(LongestRefusedPassword));
    int pingSeconds = 0;
    if (!parseNumber(parser.value(ping), 1, MaxSeconds, &pingSeconds))
        return fail(notSeconds(ping, parser.value(ping)));
    config.setPingInterval(pingSeconds * 1000);
    config.controlName = parser.value(control);
    options.databasePath = parser.value(db);
    options.demo = parser.isSet(demo);
    if (parser.isSet(simulate) &&
        !parseNumber(parser.value(simulate), 1, MaxSeconds, &options.simulateSeconds))
        return fail(notSeconds(simulate, parser.value(simulate)));

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return options;
    if (positional.first() != QLatin1String("ring"))
        return fail(QStringLiteral("Unknown command \"%1\".").arg(positional.first()));
    if (positional.size() != 2)
        return fail(QStringLiteral("ring needs exactly one NUMBER."));
    options.mode = ServerOptions::Mode::Ring;
    options.ringNumber = positional.at(1);
    if (config.controlName.isEmpty()) {
        if (config.port == 0)
            return fail(QStringLiteral("ring: give the port the server listens on, not 0."));
        config.controlName = ControlChannel::nameForPort(config.port);
    }
    return options;
}
