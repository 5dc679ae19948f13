#include "shell/clientoptions.h"

namespace {

const QString Program = QStringLiteral("quillora-client");

// Qt's own options that take the next argument as their value.
const QStringList QtOptionsWithValue{
    QStringLiteral("-platform"),      QStringLiteral("-platformpluginpath"),
    QStringLiteral("-platformtheme"), QStringLiteral("-plugin"),
    QStringLiteral("-style"),         QStringLiteral("-stylesheet"),
    QStringLiteral("-session"),       QStringLiteral("-qwindowgeometry"),
    QStringLiteral("-qwindowtitle"),  QStringLiteral("-qwindowicon"),
    QStringLiteral("-display"),       QStringLiteral("-geometry"),
    QStringLiteral("-title"),         QStringLiteral("-icon"),
    QStringLiteral("-name"),          QStringLiteral("-visual"),
};

// Qt's own options that stand alone.
const QStringList QtFlags{
    QStringLiteral("-reverse"), QStringLiteral("-widgetcount"), QStringLiteral("-nograb"),
    QStringLiteral("-dograb"),  QStringLiteral("-sync"),        QStringLiteral("-testability"),
};

QString helpText()
{
    return QStringLiteral(
        "Usage: quillora-client [OPTION]...\n"
        "Caller-ID client: shows the calls a Quillora server announces.\n"
        "\n"
        "  -h, --help       show this help and exit\n"
        "  -v, --version    show the version and exit\n"
        "\n"
        "Qt's standard options (-platform, -style, -display, -geometry and the\n"
        "others) are accepted too.\n"
        "\n"
        "One client runs per user: starting it again brings the running client's\n"
        "window forward.\n");
}

ClientOptions failure(const QString& message)
{
    return {ClientOptions::Mode::Error, Program + QStringLiteral(": ") + message +
                                            QStringLiteral("\nTry ") + Program +
                                            QStringLiteral(" --help.\n")};
}

} // namespace

ClientOptions parseClientOptions(const QStringList& args)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
            return {ClientOptions::Mode::Help, helpText()};
        if (arg == QLatin1String("-v") || arg == QLatin1String("--version"))
            return {ClientOptions::Mode::Version,
                    Program + QStringLiteral(" " QUILLORA_VERSION "\n")};
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            return failure(QStringLiteral("unexpected argument '%1'").arg(arg));

        // Qt takes its options with one dash or two, and "-style=fusion" alike.
        QString name = arg.startsWith(QLatin1String("--")) ? arg.mid(1) : arg;
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool valueAttached = equals > 0;
        if (valueAttached)
            name.truncate(equals);
        if (QtOptionsWithValue.contains(name)) {
            if (!valueAttached) {
                if (i + 1 >= args.size())
                    return failure(QStringLiteral("option '%1' needs a value").arg(arg));
                ++i;
            }
            continue;
        }
        if (QtFlags.contains(name) && !valueAttached)
            continue;
        return failure(QStringLiteral("unknown option '%1'").arg(arg));
    }
    return {};
}
