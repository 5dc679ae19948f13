// How fast the server finds the caller of one call, and answers a contact search, in a
// database of 100,000 contacts. Prints its figures; asserts nothing.

#include "answers.h"
#include "calllog.h"
#include "contactstore.h"
#include "database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

namespace {

constexpr int ContactCount = 100000;

const char* const First[] = {"Anna",   "Ben",  "Clara", "David",  "Emma",  "Felix", "Grace",
                             "Henry",  "Ida",  "Jonas", "Kate",   "Liam",  "Maria", "Noah",
                             "Olivia", "Paul", "Rosa",  "Samuel", "Tessa", "Victor"};
const char* const Last[] = {"Andersen", "Baker",  "Carter",  "Dalton", "Evans",  "Fischer",
                            "Garcia",   "Hughes", "Ivanova", "Jensen", "Keller", "Lindqvist",
                            "Moreau",   "Novak",  "O'Brien", "Patel",  "Quinn",  "Rossi",
                            "Schmidt",  "Smith",  "Turner",  "Varga",  "Weber",  "Young"};

Contact makeContact(int i, QRandomGenerator& random)
{
    Contact c;
    const QString first = QString::fromLatin1(First[random.bounded(int(std::size(First)))]);
    const QString last = QString::fromLatin1(Last[random.bounded(int(std::size(Last)))]);
    c.name = first + QLatin1Char(' ') + last;
    c.home = QStringLiteral("555-1%1").arg(i, 6, 10, QLatin1Char('0'));
    c.mobile = QStringLiteral("555-3%1").arg(i, 6, 10, QLatin1Char('0'));
    if (i % 2 == 0)
        c.businessPhone = QStringLiteral("555-7%1").arg(i, 6, 10, QLatin1Char('0'));
    if (i % 5 == 0)
        c.businessFax = QStringLiteral("555-8%1").arg(i, 6, 10, QLatin1Char('0'));
    c.email = (first + QLatin1Char('.') + last).toLower() + QString::number(i) +
              QStringLiteral("@example.com");
    return c;
}

struct Figures {
    double medianMs;
    double maxMs;
};

template <typename Work> Figures measure(int runs, Work work)
{
    std::vector<double> ms;
    ms.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work(i);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    Database db;
    if (!db.open(dir.filePath(QStringLiteral("bench.sqlite")))) {
        out << "cannot open the database: " << db.errorText() << Qt::endl;
        return 1;
    }
    ContactStore contacts(db);
    CallLog calls(db);

    QRandomGenerator random(7);
    QElapsedTimer fill;
    fill.start();
    const bool filled = db.transaction([&] {
        for (int i = 0; i < ContactCount; ++i) {
            if (!contacts.insert(makeContact(i, random)))
                return false;
        }
        return true;
    });
    if (!filled) {
        out << "cannot fill the database: " << db.errorText() << Qt::endl;
        return 1;
    }
    out << "Database of " << contacts.count() << " contacts (" << contacts.numberCount()
        << " numbers) written in " << fill.elapsed() << " ms" << Qt::endl;

    auto number = [](int kind, int i) {
        return QStringLiteral("555-%1%2").arg(kind).arg(i, 6, 10, QLatin1Char('0'));
    };
    const int runs = 2000;
    const Figures exact =
        measure(runs, [&](int i) { (void)contacts.lookup(number(3, (i * 7919) % ContactCount)); });
    const Figures digits = measure(runs, [&](int i) {
        (void)contacts.lookup(
            QStringLiteral("5553%1").arg((i * 7919) % ContactCount, 6, 10, QLatin1Char('0')));
    });
    const Figures unknown =
        measure(runs, [&](int i) { (void)contacts.lookup(QStringLiteral("555-9%1").arg(i)); });
    const Figures logged = measure(runs, [&](int i) {
        const QString n = number(1, (i * 104729) % ContactCount);
        const auto caller = contacts.lookup(n);
        calls.add(QDateTime::currentDateTime(), n,
                  caller ? std::optional<qint64>(caller->id) : std::nullopt);
    });
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(3);
    out << "\nLookup of one call's number among " << ContactCount << " contacts (" << runs
        << " runs, median / max):" << Qt::endl;
    out << "  exact number             " << exact.medianMs << " / " << exact.maxMs << " ms"
        << Qt::endl;
    out << "  digits-only fallback     " << digits.medianMs << " / " << digits.maxMs << " ms"
        << Qt::endl;
    out << "  unknown number           " << unknown.medianMs << " / " << unknown.maxMs << " ms"
        << Qt::endl;
    out << "  lookup + log the call    " << logged.medianMs << " / " << logged.maxMs << " ms"
        << Qt::endl;

    struct Case {
        const char* label;
        QString request;
    };
    const Case cases[] = {
        {"NAME one word (~4% match)", QStringLiteral("CNTAC:SEAR;NAME;smith")},
        {"NAME no match", QStringLiteral("CNTAC:SEAR;NAME;zzzz")},
        {"PHON one number", QStringLiteral("CNTAC:SEAR;PHON;555-1054321")},
        {"EMAI rare (1 match)", QStringLiteral("CNTAC:SEAR;EMAI;77777@")},
        {"ALLF one number", QStringLiteral("CNTAC:SEAR;ALLF;555-3054321")},
        {"ALLF no match", QStringLiteral("CNTAC:SEAR;ALLF;zzzz")},
        {"ALLF \"smith\"", QStringLiteral("CNTAC:SEAR;ALLF;smith")},
        {"browse in \"smith\"", QStringLiteral("CNTAC:SEAR;ALLF;smith,@RECORD:50000")},
        {"ALLF everything (100k IDs)", QStringLiteral("CNTAC:SEAR;ALLF;example")},
    };
    QElapsedTimer load;
    load.start();
    (void)contacts.search(requests::SearchField::Name, QStringLiteral("x"));
    out << "\nSearch index read from the database (once, at the first search): " << load.elapsed()
        << " ms" << Qt::endl;
    out << "\nContact search over " << ContactCount
        << " contacts, request to finished reply text (50 runs, median / max):" << Qt::endl;
    for (const Case& c : cases) {
        qsizetype size = 0;
        const Figures f =
            measure(50, [&](int) { size = answers::answer(c.request, contacts, calls)->size(); });
        out << "  " << QString::fromLatin1(c.label).leftJustified(30) << f.medianMs << " / "
            << f.maxMs << " ms  (" << size << " characters)" << Qt::endl;
    }

    out << "\nStatistics over " << ContactCount << " contacts and " << calls.count()
        << " logged calls (5 runs, median / max):" << Qt::endl;
    for (const char* request :
         {"STATS:LAST;100", "STATS:UNKN;100", "STATS:TOPS;100", "STATS:CNTS;00"}) {
        qsizetype size = 0;
        const Figures f = measure(5, [&](int) {
            size = answers::answer(QString::fromLatin1(request), contacts, calls)->size();
        });
        out << "  " << QString::fromLatin1(request).leftJustified(30) << f.medianMs << " / "
            << f.maxMs << " ms  (" << size << " characters)" << Qt::endl;
    }
    return 0;
}
