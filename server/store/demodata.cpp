#include "demodata.h"

#include <QRandomGenerator>

namespace demodata {

namespace {

const char* const FirstNames[] = {"Anna",   "Ben",  "Clara", "David",  "Emma",  "Felix", "Grace",
                                  "Henry",  "Ida",  "Jonas", "Kate",   "Liam",  "Maria", "Noah",
                                  "Olivia", "Paul", "Rosa",  "Samuel", "Tessa", "Victor"};
const char* const LastNames[] = {"Andersen", "Baker",  "Carter",  "Dalton", "Evans",  "Fischer",
                                 "Garcia",   "Hughes", "Ivanova", "Jensen", "Keller", "Lind",
                                 "Moreau",   "Novak",  "O'Brien", "Patel",  "Quinn",  "Rossi",
                                 "Schmidt",  "Turner", "Ueda",    "Varga",  "Weber",  "Young"};
const char* const Domains[] = {"example.com", "example.org", "example.net"};

// "555-" + the exchange digit + three digits that no other demo contact has in that
// exchange (151 and 1000 have no common factor, so index * 151 never repeats mod 1000).
QString demoNumber(char exchange, int index, int offset)
{
    return QStringLiteral("555-%1%2")
        .arg(QLatin1Char(exchange))
        .arg((offset + index * 151) % 1000, 3, 10, QLatin1Char('0'));
}

Contact makeContact(int index, QRandomGenerator& random)
{
    Contact c;
    const QString first = QString::fromLatin1(FirstNames[index % std::size(FirstNames)]);
    const QString last =
        QString::fromLatin1(LastNames[(index * 7 + index / 3) % std::size(LastNames)]);
    c.name = first + QLatin1Char(' ') + last;
    // Phone numbers in the fictional 555 range, each kind with its own exchange.
    c.home = demoNumber('1', index, 17);
    if (random.bounded(10) < 8)
        c.mobile = demoNumber('3', index, 402);
    if (random.bounded(10) < 5)
        c.businessPhone = demoNumber('7', index, 233);
    if (random.bounded(10) < 2)
        c.businessFax = demoNumber('8', index, 233);
    if (random.bounded(10) < 9) {
        // Short enough for the call pop-up: "r.carter@example.com".
        QString local = (first.left(1) + QLatin1Char('.') + last).toLower();
        local.remove(QLatin1Char('\''));
        c.email = local + QLatin1Char('@') +
                  QString::fromLatin1(Domains[random.bounded(int(std::size(Domains)))]);
    }
    return c;
}

bool isEmpty(ContactStore& contacts, CallLog& calls)
{
    return contacts.count() == 0 && calls.count() == 0;
}

} // namespace

QStringList unknownNumbers()
{
    return {QStringLiteral("555-9012"), QStringLiteral("555-9137"), QStringLiteral("555-9240"),
            QStringLiteral("555-9388"), QStringLiteral("555-9415"), QStringLiteral("555-9563"),
            QStringLiteral("555-9671"), QStringLiteral("555-9704"), QStringLiteral("555-9852"),
            QStringLiteral("555-9999")};
}

Summary fill(Database& db, const QDateTime& now, quint32 seed)
{
    ContactStore contacts(db);
    CallLog calls(db);
    Summary summary;
    if (!isEmpty(contacts, calls)) {
        summary.outcome = Summary::Outcome::NotEmpty;
        return summary;
    }

    QRandomGenerator random(seed);
    const bool ok = db.transaction([&] {
        constexpr int ContactCount = 60;
        std::vector<Contact> stored;
        for (int i = 0; i < ContactCount; ++i) {
            Contact c = makeContact(i, random);
            const std::optional<qint64> id = contacts.insert(c);
            if (!id)
                return false;
            c.id = *id;
            stored.push_back(c);
        }
        summary.contacts = ContactCount;

        // Calls over the last 28 days, in daytime hours; a few contacts call far more
        // often than the rest, so the top callers stand out.
        const QStringList unknown = unknownNumbers();
        const int callCount = 300 + random.bounded(60);
        for (int i = 0; i < callCount; ++i) {
            const QDateTime day = now.addDays(-random.bounded(28));
            QDateTime at(day.date(),
                         QTime(8 + random.bounded(13), random.bounded(60), random.bounded(60)));
            if (at > now)
                at = now.addSecs(-random.bounded(3600) - 60);
            QString number;
            std::optional<qint64> contactId;
            if (random.bounded(4) == 0) {
                number = unknown[random.bounded(int(unknown.size()))];
            } else {
                const double r = random.generateDouble();
                const Contact& c = stored[size_t(r * r * ContactCount)];
                const QStringList numbers = c.phoneNumbers();
                number = numbers[random.bounded(int(numbers.size()))];
                contactId = c.id;
            }
            if (!calls.add(at, number, contactId))
                return false;
        }
        summary.calls = callCount;
        return true;
    });
    summary.outcome = ok ? Summary::Outcome::Added : Summary::Outcome::Failed;
    return summary;
}

} // namespace demodata
