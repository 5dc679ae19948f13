#include "serveroptions.h"

#include "configfile.h"
#include "contact.h"
#include "controlchannel.h"
#include "database.h"
#include "numbering.h"
#include "passwordfile.h"
#include "storelocation.h"
#include "tlsidentity.h"

#include <QCommandLineParser>

namespace {

constexpr int MaxSeconds = 24 * 3600;

// The options a configuration file may set, by their long names. The password is not one
// of them: such files tend to be readable by more users than the password may be.
const QStringList FileKeys = {QStringLiteral("listen"),
                              QStringLiteral("port"),
                              QStringLiteral("db"),
                              QStringLiteral("db-password-file"),
                              QStringLiteral("password-file"),
                              QStringLiteral("ping-interval"),
                              QStringLiteral("control"),
                              QStringLiteral("simulate-calls"),
                              QStringLiteral("demo"),
                              QStringLiteral("max-clients"),
                              QStringLiteral("max-contacts"),
                              QStringLiteral("max-saves-per-minute"),
                              QStringLiteral("allow-no-password"),
                              QStringLiteral("tls-port"),
                              QStringLiteral("tls-cert"),
                              QStringLiteral("tls-key"),
                              QStringLiteral("plain"),
                              QStringLiteral("modem"),
                              QStringLiteral("fritzbox"),
                              QStringLiteral("ami"),
                              QStringLiteral("ami-user"),
                              QStringLiteral("ami-secret-file"),
                              QStringLiteral("country"),
                              QStringLiteral("area-code")};

// The keys that may come any number of times, one source each.
const QList<SourceSpec::Kind> SourceKinds = {SourceSpec::Kind::Modem, SourceSpec::Kind::Fritzbox,
                                             SourceSpec::Kind::Ami};

// The keys that are switches: true or false in the file, present or not on the command line.
const QStringList SwitchKeys = {QStringLiteral("demo"), QStringLiteral("allow-no-password")};

constexpr int MostContacts = 10000000;
constexpr int MostSavesPerMinute = 1000000;

bool parseNumber(const QString& text, int min, int max, int* value)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < min || n > max)
        return false;
    *value = n;
    return true;
}

// Why the value cannot be taken for the option, or empty when it can; the same on the
// command line and in the configuration file.
QString valueProblem(const QString& option, const QString& value)
{
    int unused = 0;
    StoreLocation location;
    QString locationProblem;
    if (option == QLatin1String("db") && !StoreLocation::parse(value, &location, &locationProblem))
        return locationProblem;
    if (option == QLatin1String("listen") && !QHostAddress().setAddress(value))
        return QStringLiteral("\"%1\" is not an IP address.").arg(value);
    if ((option == QLatin1String("port") || option == QLatin1String("tls-port")) &&
        !parseNumber(value, 0, 65535, &unused))
        return QStringLiteral("\"%1\" is not a port from 0 to 65535.").arg(value);
    if ((option == QLatin1String("ping-interval") || option == QLatin1String("simulate-calls")) &&
        !parseNumber(value, 1, MaxSeconds, &unused))
        return QStringLiteral("\"%1\" is not a number of seconds from 1 to %2.")
            .arg(value)
            .arg(MaxSeconds);
    if (option == QLatin1String("max-clients") &&
        !parseNumber(value, 1, ServerConfig::MostClients, &unused))
        return QStringLiteral("\"%1\" is not a number of clients from 1 to %2.")
            .arg(value)
            .arg(ServerConfig::MostClients);
    if (option == QLatin1String("max-contacts") && !parseNumber(value, 1, MostContacts, &unused))
        return QStringLiteral("\"%1\" is not a number of contacts from 1 to %2.")
            .arg(value)
            .arg(MostContacts);
    if (option == QLatin1String("max-saves-per-minute") &&
        !parseNumber(value, 1, MostSavesPerMinute, &unused))
        return QStringLiteral("\"%1\" is not a number of saves from 1 to %2.")
            .arg(value)
            .arg(MostSavesPerMinute);
    for (const SourceSpec::Kind kind : SourceKinds) {
        SourceSpec spec;
        QString problem;
        if (option == sourcespec::key(kind) && !sourcespec::parse(kind, value, &spec, &problem))
            return problem;
    }
    if (option == QLatin1String("country") && !Numbering::isCountry(value))
        return QStringLiteral("\"%1\" is not a two-letter country code such as DE or US.")
            .arg(value);
    if (option == QLatin1String("area-code") &&
        (value.isEmpty() || value.size() > 6 || digitsOnly(value) != value))
        return QStringLiteral("\"%1\" is not an area code of 1 to 6 digits, without its "
                              "leading 0.")
            .arg(value);
    if (option == QLatin1String("plain") && value != QLatin1String("on") &&
        value != QLatin1String("loopback") && value != QLatin1String("off"))
        return QStringLiteral("\"%1\" is none of on, loopback and off.").arg(value);
    return QString();
}

void describeOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Quillora caller-ID server: keeps contacts and the call log in SQLite "
                       "and announces calls to Quillora clients.\n\n"
                       "  quillora-server ring NUMBER   announces one call through the server "
                       "that is running (use the same --config, --port or --control)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("config"),
         QStringLiteral("Read options from FILE: one \"key = value\" line each, the keys being "
                        "the long option names (not password; demo = true or false). The "
                        "command line wins over the file."),
         QStringLiteral("FILE")},
        {QStringLiteral("listen"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
         QStringLiteral("ADDR"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("port"),
         QStringLiteral("TCP port (default 6996; 0 takes a free port and prints it)."),
         QStringLiteral("N"), QStringLiteral("6996")},
        {QStringLiteral("db"),
         QStringLiteral("SQLite file (default %1), or a PostgreSQL database that several "
                        "servers may share: postgresql://USER@HOST[:PORT]/DBNAME, without a "
                        "password.")
             .arg(Database::defaultPath()),
         QStringLiteral("FILE|URL"), Database::defaultPath()},
        {QStringLiteral("db-password-file"),
         QStringLiteral("Read the PostgreSQL password from FILE, its only line, checked as "
                        "--password-file is. The environment variable %1 is another way to "
                        "give it; without either, libpq's own (~/.pgpass) apply.")
             .arg(QLatin1String(DbPasswordVariable)),
         QStringLiteral("FILE")},
        {QStringLiteral("password-file"),
         QStringLiteral("Read the password clients must send first from FILE, its only line. "
                        "Other users than the file's owner and group must have no access to "
                        "it. The environment variable %1 is another way to give it.")
             .arg(QLatin1String(PasswordVariable)),
         QStringLiteral("FILE")},
        {QStringLiteral("password"),
         QStringLiteral("Password clients must send first, more than %1 characters long "
                        "(default: none asked for). Every local user can read it in the "
                        "process list: prefer --password-file or %2.")
             .arg(LongestRefusedPassword)
             .arg(QLatin1String(PasswordVariable)),
         QStringLiteral("TEXT")},
        {QStringLiteral("demo"),
         QStringLiteral("Fill an empty database with sample contacts and calls.")},
        {QStringLiteral("simulate-calls"), QStringLiteral("Announce a made-up call every SECONDS."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("control"),
         QStringLiteral("Name or absolute path of the local control socket that the ring "
                        "command uses (default quillora-server-PORT in the user's runtime "
                        "folder, PORT being the port listened on)."),
         QStringLiteral("NAME")},
        {QStringLiteral("ping-interval"),
         QStringLiteral("Send each client a keep-alive probe every SECONDS (default 30); a "
                        "client silent for three of them is dropped."),
         QStringLiteral("SECONDS"), QStringLiteral("30")},
        {QStringLiteral("max-clients"),
         QStringLiteral("Let at most N clients in at once (default %1). The server raises its "
                        "open-file limit as far as it may and lets in fewer when that limit "
                        "holds no more, and logs how many.")
             .arg(ServerConfig::DefaultMaxClients),
         QStringLiteral("N"), QString::number(ServerConfig::DefaultMaxClients)},
        {QStringLiteral("max-contacts"),
         QStringLiteral("Store at most N contacts (default %1).")
             .arg(ServerConfig::DefaultMaxContacts),
         QStringLiteral("N"), QString::number(ServerConfig::DefaultMaxContacts)},
        {QStringLiteral("max-saves-per-minute"),
         QStringLiteral("Let one client save at most N contacts a minute (default %1).")
             .arg(ServerConfig::DefaultMaxSavesPerMinute),
         QStringLiteral("N"), QString::number(ServerConfig::DefaultMaxSavesPerMinute)},
        {QStringLiteral("allow-no-password"),
         QStringLiteral("Listen on an address other machines reach although no password is "
                        "set (refused otherwise).")},
        {QStringLiteral("tls-port"),
         QStringLiteral("TCP port for clients that speak TLS (default 6997; 0 takes a free "
                        "port). Open when --tls-cert and --tls-key are given."),
         QStringLiteral("N"), QStringLiteral("6997")},
        {QStringLiteral("tls-cert"),
         QStringLiteral("The server's certificate (PEM), followed by its chain if any; "
                        "quillora-server tls-init makes one."),
         QStringLiteral("FILE")},
        {QStringLiteral("tls-key"),
         QStringLiteral("The certificate's private key (PEM, not encrypted). Other users than "
                        "the file's owner and group must have no access to it."),
         QStringLiteral("FILE")},
        {QStringLiteral("plain"),
         QStringLiteral("Who may use the plain port: on (everyone), loopback (this machine "
                        "only) or off (no plain port). Default: on, or loopback with TLS."),
         QStringLiteral("on|loopback|off")},
        {QStringLiteral("modem"),
         QStringLiteral("Hear calls on a caller-ID modem at DEVICE (may be given again)."),
         QStringLiteral("DEVICE")},
        {QStringLiteral("fritzbox"),
         QStringLiteral("Hear calls from a FRITZ!Box call monitor at HOST[:1012] (may be "
                        "given again)."),
         QStringLiteral("HOST[:PORT]")},
        {QStringLiteral("ami"),
         QStringLiteral("Hear calls from an Asterisk manager interface at HOST[:5038], or "
                        "with TLS at amis://HOST[:5039] (may be given again); needs --ami-user "
                        "and --ami-secret-file."),
         QStringLiteral("[amis://]HOST[:PORT]")},
        {QStringLiteral("ami-user"), QStringLiteral("The manager interface's user name."),
         QStringLiteral("NAME")},
        {QStringLiteral("ami-secret-file"),
         QStringLiteral("Read the manager interface's secret from FILE, its only line, "
                        "checked as --password-file is."),
         QStringLiteral("FILE")},
        {QStringLiteral("country"),
         QStringLiteral("The site's country (such as DE), so that a number written "
                        "nationally or internationally finds the same contact."),
         QStringLiteral("CC")},
        {QStringLiteral("area-code"),
         QStringLiteral("The site's area code without its leading 0 (such as 30), so that a "
                        "local number finds a contact saved with its area code."),
         QStringLiteral("DIGITS")},
        {QStringLiteral("check-sources"),
         QStringLiteral("Start the call sources, print which of them come up, and exit (0 "
                        "when all do).")},
    });
    parser.addPositionalArgument(QStringLiteral("ring"),
                                 QStringLiteral("ring NUMBER: announce a call and exit."),
                                 QStringLiteral("[ring NUMBER]"));
    parser.addPositionalArgument(
        QStringLiteral("tls-init"),
        QStringLiteral("tls-init: make a self-signed certificate and its key for this host "
                       "in the --tls-cert and --tls-key files, print its fingerprint and exit."),
        QStringLiteral("[tls-init]"));
}

// The configuration file's entries as the options they stand for, "--key=value" each.
bool readConfig(const QString& path, QStringList* arguments, QString* error)
{
    QList<configfile::Entry> entries;
    if (!configfile::read(path, &entries, error))
        return false;
    for (const configfile::Entry& entry : entries) {
        const auto fail = [&](const QString& why) {
            *error = QStringLiteral("%1, line %2: %3").arg(path).arg(entry.line).arg(why);
            return false;
        };
        if (entry.key == QLatin1String("password"))
            return fail(QStringLiteral("the password does not belong in the configuration "
                                       "file; put it in a file of its own that only the "
                                       "server can read, and name that with password-file."));
        if (!FileKeys.contains(entry.key))
            return fail(QStringLiteral("unknown key \"%1\" (known: %2).")
                            .arg(entry.key, FileKeys.join(QLatin1String(", "))));
        if (entry.value.isEmpty())
            return fail(QStringLiteral("%1 has no value.").arg(entry.key));
        if (SwitchKeys.contains(entry.key)) {
            if (entry.value != QLatin1String("true") && entry.value != QLatin1String("false"))
                return fail(QStringLiteral("%1: \"%2\" is neither true nor false.")
                                .arg(entry.key, entry.value));
            if (entry.value == QLatin1String("true"))
                arguments->append(QStringLiteral("--") + entry.key);
            continue;
        }
        const QString problem = valueProblem(entry.key, entry.value);
        if (!problem.isEmpty())
            return fail(entry.key + QLatin1String(": ") + problem);
        arguments->append(QStringLiteral("--%1=%2").arg(entry.key, entry.value));
    }
    return true;
}

QString listed(const QStringList& items)
{
    return items.size() < 2 ? items.join(QString())
                            : items.mid(0, items.size() - 1).join(QLatin1String(", ")) +
                                  QLatin1String(" and ") + items.constLast();
}

} // namespace

ServerOptions parseServerOptions(const QStringList& arguments, const QByteArray& passwordVariable,
                                 const QByteArray& dbPasswordVariable)
{
    ServerOptions options;
    auto fail = [&options](const QString& text) {
        options.mode = ServerOptions::Mode::Error;
        options.errorText = text;
        return options;
    };
    auto failOnFile = [&options, &fail](const QString& text) {
        options.suggestHelp = false;
        return fail(text);
    };

    QCommandLineParser commandLine;
    describeOptions(commandLine);
    options.helpText = commandLine.helpText();
    if (!commandLine.parse(arguments))
        return fail(commandLine.errorText());
    if (commandLine.isSet(QStringLiteral("help"))) {
        options.mode = ServerOptions::Mode::Help;
        return options;
    }
    if (commandLine.isSet(QStringLiteral("version"))) {
        options.mode = ServerOptions::Mode::Version;
        return options;
    }

    // The file's options go before the command line's own, so that where both give one,
    // the command line's comes last and wins.
    QStringList merged = arguments;
    const QStringList configs = commandLine.values(QStringLiteral("config"));
    if (configs.size() > 1 || (configs.size() == 1 && configs.constFirst().isEmpty()))
        return fail(QStringLiteral("--config: give one configuration file."));
    if (configs.size() == 1) {
        QStringList fromFile;
        QString error;
        if (!readConfig(configs.constFirst(), &fromFile, &error))
            return failOnFile(error);
        merged = arguments.mid(0, 1) + fromFile + arguments.mid(1);
    }
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(merged))
        return fail(parser.errorText());

    // The file's values were checked line by line; one that is wrong here came from the
    // command line.
    for (const char* name :
         {"listen", "port", "db", "ping-interval", "simulate-calls", "max-clients", "max-contacts",
          "max-saves-per-minute", "tls-port", "plain", "country", "area-code"}) {
        const QString option = QLatin1String(name);
        if (!parser.isSet(option) && parser.value(option).isEmpty())
            continue; // not given, and no default
        const QString problem = valueProblem(option, parser.value(option));
        if (!problem.isEmpty())
            return fail(QStringLiteral("--%1: %2").arg(option, problem));
    }
    ServerConfig& config = options.config;
    config.address.setAddress(parser.value(QStringLiteral("listen")));
    config.port = static_cast<quint16>(parser.value(QStringLiteral("port")).trimmed().toInt());
    config.setPingInterval(parser.value(QStringLiteral("ping-interval")).trimmed().toInt() * 1000);
    config.controlName = parser.value(QStringLiteral("control"));
    config.maxClients = parser.value(QStringLiteral("max-clients")).trimmed().toInt();
    config.maxContacts = parser.value(QStringLiteral("max-contacts")).trimmed().toInt();
    config.maxSavesPerMinute =
        parser.value(QStringLiteral("max-saves-per-minute")).trimmed().toInt();
    config.tlsPort =
        static_cast<quint16>(parser.value(QStringLiteral("tls-port")).trimmed().toInt());
    options.databasePath = parser.value(QStringLiteral("db"));
    options.demo = parser.isSet(QStringLiteral("demo"));
    options.checkSources = parser.isSet(QStringLiteral("check-sources"));
    config.country = parser.value(QStringLiteral("country")).toUpper();
    config.areaCode = parser.value(QStringLiteral("area-code"));
    if (!config.areaCode.isEmpty() && config.country.isEmpty())
        return fail(QStringLiteral("--area-code needs --country."));
    if (parser.isSet(QStringLiteral("simulate-calls")))
        options.simulateSeconds = parser.value(QStringLiteral("simulate-calls")).trimmed().toInt();

    const QString certFile = parser.value(QStringLiteral("tls-cert"));
    const QString keyFile = parser.value(QStringLiteral("tls-key"));
    const QStringList positional = parser.positionalArguments();
    if (positional.value(0) == QLatin1String("tls-init")) {
        if (positional.size() != 1)
            return fail(QStringLiteral("tls-init takes no arguments but options."));
        if (certFile.isEmpty() || keyFile.isEmpty())
            return fail(QStringLiteral("tls-init: give the files to make with --tls-cert FILE "
                                       "and --tls-key FILE (or a --config that names them)."));
        options.mode = ServerOptions::Mode::TlsInit;
        options.tlsCertFile = certFile;
        options.tlsKeyFile = keyFile;
        return options;
    }
    if (!positional.isEmpty()) {
        if (positional.first() != QLatin1String("ring"))
            return fail(QStringLiteral("Unknown command \"%1\".").arg(positional.first()));
        if (positional.size() != 2)
            return fail(QStringLiteral("ring needs exactly one NUMBER."));
        options.mode = ServerOptions::Mode::Ring;
        options.ringNumber = positional.at(1);
        if (config.controlName.isEmpty()) {
            // A server without a plain port names its control socket after the TLS port.
            const quint16 port = parser.value(QStringLiteral("plain")) == QLatin1String("off")
                                     ? config.tlsPort
                                     : config.port;
            if (port == 0)
                return fail(QStringLiteral("ring: give the port the server listens on, not 0."));
            config.controlName = ControlChannel::nameForPort(port);
        }
        return options; // ring needs no password
    }

    // TLS, with both files or neither.
    if (certFile.isEmpty() != keyFile.isEmpty())
        return fail(QStringLiteral("TLS needs both --tls-cert and --tls-key."));
    if (!certFile.isEmpty()) {
        tlsidentity::Identity identity;
        QString error;
        if (!tlsidentity::load(certFile, keyFile, &identity, &error))
            return failOnFile(error);
        config.tlsCertificate = identity.certificate;
        config.tlsChain = identity.chain;
        config.tlsKey = identity.key;
    }
    const QString plain = parser.value(QStringLiteral("plain"));
    config.plain = plain == QLatin1String("off")        ? ServerConfig::Plain::Off
                   : plain == QLatin1String("loopback") ? ServerConfig::Plain::Loopback
                   : plain == QLatin1String("on")       ? ServerConfig::Plain::On
                   : config.tls()                       ? ServerConfig::Plain::Loopback
                                                        : ServerConfig::Plain::On;
    if (config.plain == ServerConfig::Plain::Off && !config.tls())
        return fail(QStringLiteral("--plain off leaves no port open: give --tls-cert and "
                                   "--tls-key too."));

    // The call sources: every one the file and the command line name, each key any number
    // of times. A PBX's secret is read like a password file.
    const QString amiUser = parser.value(QStringLiteral("ami-user"));
    const QString amiSecretFile = parser.value(QStringLiteral("ami-secret-file"));
    QString amiSecret;
    for (const SourceSpec::Kind kind : SourceKinds) {
        const QString key = sourcespec::key(kind);
        for (const QString& value : parser.values(key)) {
            SourceSpec spec;
            QString problem;
            if (!sourcespec::parse(kind, value, &spec, &problem))
                return fail(QStringLiteral("--%1: %2").arg(key, problem));
            if (kind == SourceSpec::Kind::Ami) {
                if (amiUser.isEmpty() || amiSecretFile.isEmpty())
                    return fail(QStringLiteral("--ami needs --ami-user and --ami-secret-file."));
                if (amiSecret.isEmpty()) {
                    QString error;
                    amiSecret = passwordfile::read(amiSecretFile, &error);
                    if (!error.isEmpty())
                        return failOnFile(QStringLiteral("--ami-secret-file: ") + error);
                }
                spec.user = amiUser;
                spec.secret = amiSecret;
            }
            config.sources << spec;
        }
    }
    if (options.checkSources && config.sources.isEmpty())
        return fail(QStringLiteral("--check-sources: no call source is configured (modem, "
                                   "fritzbox or ami)."));

    // The database password, for PostgreSQL only, one way only.
    const bool postgres = StoreLocation::isPostgreSqlUrl(options.databasePath);
    if (parser.isSet(QStringLiteral("db-password-file"))) {
        const QString file = parser.value(QStringLiteral("db-password-file"));
        if (!postgres)
            return fail(QStringLiteral("--db-password-file: the password is for a PostgreSQL "
                                       "database, and --db names an SQLite file."));
        if (!dbPasswordVariable.isEmpty())
            return fail(QStringLiteral("the database password is given by --db-password-file "
                                       "and %1; give it one way only.")
                            .arg(QLatin1String(DbPasswordVariable)));
        if (file.isEmpty())
            return fail(QStringLiteral("--db-password-file: no file given."));
        QString error;
        options.databasePassword = passwordfile::read(file, &error);
        if (!error.isEmpty())
            return failOnFile(QStringLiteral("--db-password-file: ") + error);
    } else if (postgres && !dbPasswordVariable.isEmpty()) {
        if (dbPasswordVariable.size() > passwordfile::MaxBytes)
            return failOnFile(QStringLiteral("%1 is longer than %2 bytes.")
                                  .arg(QLatin1String(DbPasswordVariable))
                                  .arg(passwordfile::MaxBytes));
        options.databasePassword = QString::fromLocal8Bit(dbPasswordVariable);
    }

    // The password, given one way only.
    const QString passwordFile = parser.value(QStringLiteral("password-file"));
    QStringList ways;
    if (parser.isSet(QStringLiteral("password")))
        ways << QStringLiteral("--password");
    if (parser.isSet(QStringLiteral("password-file")))
        ways << (commandLine.isSet(QStringLiteral("password-file"))
                     ? QStringLiteral("--password-file")
                     : QStringLiteral("password-file in %1").arg(configs.constFirst()));
    if (!passwordVariable.isEmpty())
        ways << QLatin1String(PasswordVariable);
    if (ways.size() > 1)
        return fail(
            QStringLiteral("the password is given by %1; give it one way only.").arg(listed(ways)));

    QString source;
    if (parser.isSet(QStringLiteral("password"))) {
        source = QStringLiteral("--password");
        config.password = parser.value(QStringLiteral("password"));
        options.passwordOnCommandLine = true;
    } else if (parser.isSet(QStringLiteral("password-file"))) {
        if (passwordFile.isEmpty())
            return fail(QStringLiteral("--password-file: no file given."));
        source = QStringLiteral("the password file %1").arg(passwordFile);
        QString error;
        config.password = passwordfile::read(passwordFile, &error);
        if (!error.isEmpty())
            return failOnFile(error);
    } else if (!passwordVariable.isEmpty()) {
        source = QLatin1String(PasswordVariable);
        if (passwordVariable.size() > passwordfile::MaxBytes)
            return failOnFile(QStringLiteral("%1 is longer than %2 bytes.")
                                  .arg(source)
                                  .arg(passwordfile::MaxBytes));
        config.password = QString::fromLocal8Bit(passwordVariable);
    }
    // Counted as the client counts it: in UTF-16 code units, not bytes.
    if (!config.password.isEmpty() && config.password.size() <= LongestRefusedPassword) {
        const QString text = QStringLiteral("%1: it has %2 characters, but Quillora clients only "
                                            "accept passwords of more than %3 characters.")
                                 .arg(source)
                                 .arg(config.password.size())
                                 .arg(LongestRefusedPassword);
        return options.passwordOnCommandLine ? fail(text) : failOnFile(text);
    }
    // Without a password, whoever reaches the server gets in: only this machine, unless
    // that is asked for.
    if (config.password.isEmpty() && !config.address.isLoopback() &&
        !parser.isSet(QStringLiteral("allow-no-password"))) {
        options.suggestHelp = false;
        return fail(
            QStringLiteral("listening on %1 without a password lets anyone on the network in. "
                           "Put a password in a file only the server can read and name it with "
                           "--password-file (password-file in the configuration file), or set "
                           "allow-no-password = true.")
                .arg(config.address.toString()));
    }
    return options;
}
