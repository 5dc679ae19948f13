// quillora-modemsim: a modem on a pseudo-terminal that rings now and then, to watch calls
// arrive at a server started with --modem on it.
//
//     quillora-modemsim [--every SECONDS] [NUMBER[=NAME]]...
//
// Calls come from the numbers in turn. The server takes 8 quiet seconds as the end of a
// call, so calls less than 9 seconds apart run into one.

#include "modemsim.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList numbers = app.arguments().mid(1);
    int every = 10;
    if (const qsizetype at = numbers.indexOf(QStringLiteral("--every")); at >= 0) {
        every = numbers.value(at + 1).toInt();
        numbers.remove(at, qMin<qsizetype>(2, numbers.size() - at));
    }
    if (every <= 0 || numbers.filter(QStringLiteral("--")).size() > 0) {
        std::fprintf(stderr, "Usage: quillora-modemsim [--every SECONDS] [NUMBER[=NAME]]...\n");
        return 2;
    }
    if (numbers.isEmpty())
        numbers << QStringLiteral("4075550000=JOHN DOE");

    ModemSim sim;
    sim.pauseMs = 500;
    std::printf("Modem on %s\n", qPrintable(sim.devicePath()));
    std::fflush(stdout);

    int next = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &sim, [&] {
        const QString entry = numbers[next++ % numbers.size()];
        QByteArray block = "NMBR = " + entry.section(QLatin1Char('='), 0, 0).toUtf8() + "\r\n";
        if (entry.contains(QLatin1Char('=')))
            block += "NAME = " + entry.section(QLatin1Char('='), 1).toUtf8() + "\r\n";
        sim.playCall(QDateTime::currentDateTime()
                             .toString("'DATE = 'MMdd'\r\nTIME = 'HHmm'\r\n'")
                             .toLatin1() +
                         block,
                     2);
    });
    timer.start(every * 1000);
    return app.exec();
}
