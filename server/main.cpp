// quillora-server: the reference caller-ID server (see serveroptions.h for its command line).

#include "callsimulator.h"
#include "callsources.h"
#include "controlchannel.h"
#include "database.h"
#include "demodata.h"
#include "filelimit.h"
#include "namecheck.h"
#include "server.h"
#include "serverlog.h"
#include "serveroptions.h"
#include "tlsidentity.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTextStream>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM end the event loop, so the server closes its sockets and the
// database in order. The handler only writes a byte; the loop reads it.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

void quitOnSignals(QObject* context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(g_signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

int serve(const ServerOptions& options)
{
    Database db;
    if (!db.open(options.databasePath, options.databasePassword)) {
        QTextStream(stderr) << "quillora-server: " << db.errorText() << Qt::endl;
        return 1;
    }
    serverlog::write(QStringLiteral("Database: %1").arg(options.databasePath));
    if (options.passwordOnCommandLine)
        serverlog::write(QStringLiteral("Warning: the password was given with --password, where "
                                        "every local user can read it in the process list; use "
                                        "--password-file or %1 instead.")
                             .arg(QLatin1String(PasswordVariable)));
    if (options.demo) {
        const demodata::Summary demo = demodata::fill(db);
        switch (demo.outcome) {
        case demodata::Summary::Outcome::Added:
            serverlog::write(QStringLiteral("Demo data added: %1 contacts, %2 calls.")
                                 .arg(demo.contacts)
                                 .arg(demo.calls));
            break;
        case demodata::Summary::Outcome::NotEmpty:
            serverlog::write(QStringLiteral("The database is not empty; no demo data added."));
            break;
        case demodata::Summary::Outcome::Failed:
            QTextStream(stderr) << "quillora-server: the demo data could not be written: "
                                << db.errorText() << Qt::endl;
            return 1;
        }
    }

    // Every client holds a file descriptor: as many clients as asked for, as far as the
    // open-file limit goes.
    ServerConfig config = options.config;
    const long long files = filelimit::raiseToHard();
    config.maxClients = filelimit::clientsWithin(options.config.maxClients, files);
    const QString fileLimit = files < 0 ? QStringLiteral("no open-file limit")
                                        : QStringLiteral("open-file limit %1").arg(files);
    if (config.maxClients < options.config.maxClients)
        serverlog::write(QStringLiteral("Clients: at most %1 of the %2 asked for (%3).")
                             .arg(config.maxClients)
                             .arg(options.config.maxClients)
                             .arg(fileLimit));
    else
        serverlog::write(
            QStringLiteral("Clients: at most %1 (%2).").arg(config.maxClients).arg(fileLimit));

    Server server(db, config);
    namecheck::logNoMatchNames(server.contacts());
    QString error;
    if (!server.start(&error)) {
        QTextStream(stderr) << "quillora-server: " << error << Qt::endl;
        return 1;
    }
    if (options.config.password.isEmpty())
        serverlog::write(QStringLiteral("No password set: every client is accepted."));

    CallSimulator simulator(server.contacts(),
                            [&server](const QString& number) { server.announceCall(number); });
    if (options.simulateSeconds > 0) {
        simulator.start(options.simulateSeconds);
        serverlog::write(
            QStringLiteral("Simulating a call every %1 s.").arg(options.simulateSeconds));
    }

    quitOnSignals(&server);
    const int status = QCoreApplication::exec();
    serverlog::write(QStringLiteral("Stopped."));
    return status;
}

// The password from the environment, which is then cleared of it so that no process
// started later inherits it. The value is overwritten in place as well: unsetting alone
// would leave it in the memory that /proc/PID/environ shows.
QByteArray takePasswordFromEnvironment(const char* variable)
{
    const QByteArray value = qgetenv(variable);
    const size_t prefix = std::strlen(variable);
    for (char** entry = environ; entry && *entry; ++entry) {
        if (std::strncmp(*entry, variable, prefix) == 0 && (*entry)[prefix] == '=')
            std::memset(*entry + prefix + 1, 0, std::strlen(*entry + prefix + 1));
    }
    qunsetenv(variable);
    return value;
}

// quillora-server tls-init: a self-signed certificate for this host.
int makeCertificate(const ServerOptions& options, QTextStream& out, QTextStream& err)
{
    QString error;
    tlsidentity::Identity identity;
    if (!tlsidentity::create(options.tlsCertFile, options.tlsKeyFile, QSysInfo::machineHostName(),
                             &error) ||
        !tlsidentity::load(options.tlsCertFile, options.tlsKeyFile, &identity, &error)) {
        err << "quillora-server: " << error << Qt::endl;
        return 1;
    }
    out << "Certificate: " << options.tlsCertFile << Qt::endl
        << "Key: " << options.tlsKeyFile << Qt::endl
        << "TLS key fingerprint: " << tlsidentity::fingerprint(identity.certificate) << Qt::endl;
    return 0;
}

// Starts the sources, waits until each is up or has said why not (at most 15 s), prints
// one line for each and exits: 0 when all are up, 1 otherwise.
int checkSources(const QList<SourceSpec>& specs, QTextStream& out)
{
    CallSources sources(specs, [](const IncomingCall&) {});
    QEventLoop loop;
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    QObject::connect(&sources, &CallSources::changed, &loop, [&] {
        if (sources.settled())
            loop.quit();
    });
    sources.start();
    if (!sources.settled())
        loop.exec();
    bool allUp = true;
    for (const CallSources::State& state : sources.states()) {
        out << state.name << ": "
            << (state.up              ? QStringLiteral("up")
                : state.why.isEmpty() ? QStringLiteral("no answer within 15 s")
                                      : QStringLiteral("down: ") + state.why)
            << Qt::endl;
        allUp = allUp && state.up;
    }
    return allUp ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    const QByteArray passwordVariable = takePasswordFromEnvironment(PasswordVariable);
    const QByteArray dbPasswordVariable = takePasswordFromEnvironment(DbPasswordVariable);
    // Qt's own event loop rather than GLib's: that one keeps the sockets it watches in a
    // list, so that each write to one of thousands of clients would walk all of them.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillora-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));

    const ServerOptions options =
        parseServerOptions(QCoreApplication::arguments(), passwordVariable, dbPasswordVariable);
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (options.mode) {
    case ServerOptions::Mode::Help:
        out << options.helpText;
        return 0;
    case ServerOptions::Mode::Version:
        out << "quillora-server " << QUILLORA_VERSION << Qt::endl;
        return 0;
    case ServerOptions::Mode::Error:
        err << "quillora-server: " << options.errorText << Qt::endl;
        if (options.suggestHelp)
            err << "Try quillora-server --help." << Qt::endl;
        return 2;
    case ServerOptions::Mode::Ring:
        return ControlChannel::ring(options.config.controlName, options.ringNumber, out, err);
    case ServerOptions::Mode::TlsInit:
        return makeCertificate(options, out, err);
    case ServerOptions::Mode::Serve:
        break;
    }
    if (options.checkSources)
        return checkSources(options.config.sources, out);
    return serve(options);
}
