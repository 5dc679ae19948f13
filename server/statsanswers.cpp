#include "answers.h"

#include "session/protocol.h"

#include <algorithm>

namespace answers {

QList<replies::ContactRow> contactRows(ContactStore& contacts, CallLog& calls, bool topOnly,
                                       int limit)
{
    QHash<qint64, qint64> known = calls.countsByContact();
    // Calls that matched no contact when they came in count for every contact that has
    // their number now.
    QHash<qint64, qint64> unrecognised;
    const QHash<QString, qint64> unknown = calls.unknownCountsByDigits();
    for (auto it = unknown.cbegin(); it != unknown.cend(); ++it) {
        for (const qint64 id : contacts.withDigits(it.key()))
            unrecognised[id] += it.value();
    }

    QList<replies::ContactRow> rows;
    if (!topOnly) {
        contacts.forEach([&](const Contact& c) {
            if (rows.size() >= limit)
                return;
            const qint64 unrec = unrecognised.value(c.id);
            rows.append({c, known.value(c.id) + unrec, unrec});
        });
        return rows;
    }

    struct Score {
        qint64 id;
        qint64 calls;
        qint64 unrecognised;
    };
    std::vector<Score> scores;
    scores.reserve(static_cast<size_t>(known.size() + unrecognised.size()));
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        scores.push_back(
            {it.key(), it.value() + unrecognised.value(it.key()), unrecognised.value(it.key())});
    for (auto it = unrecognised.cbegin(); it != unrecognised.cend(); ++it) {
        if (!known.contains(it.key()))
            scores.push_back({it.key(), it.value(), it.value()});
    }
    const size_t keep = std::min(scores.size(), static_cast<size_t>(limit));
    std::partial_sort(scores.begin(), scores.begin() + static_cast<std::ptrdiff_t>(keep),
                      scores.end(), [](const Score& a, const Score& b) {
                          if (a.calls != b.calls)
                              return a.calls > b.calls;
                          return a.id < b.id;
                      });
    for (size_t i = 0; i < keep; ++i) {
        if (const std::optional<Contact> c = contacts.find(scores[i].id))
            rows.append({*c, scores[i].calls, scores[i].unrecognised});
    }
    return rows;
}

QString stats(const requests::StatsRequest& request, ContactStore& contacts, CallLog& calls)
{
    using requests::StatsKind;
    switch (request.kind) {
    case StatsKind::Last:
        return replies::callList(request.kind, calls.newest(request.count, false));
    case StatsKind::Unknown:
        return replies::callList(request.kind, calls.newest(request.count, true));
    case StatsKind::Top:
        return replies::contactTable(request.kind,
                                     contactRows(contacts, calls, true, request.count));
    case StatsKind::Contacts:
        return replies::contactTable(request.kind,
                                     contactRows(contacts, calls, false, requests::MaxCount));
    }
    return QString();
}

std::optional<QString> answer(const QString& message, ContactStore& contacts, CallLog& calls)
{
    switch (protocol::classify(message)) {
    case protocol::Kind::Stats:
        if (const std::optional<requests::StatsRequest> request = requests::parseStats(message))
            return stats(*request, contacts, calls);
        return std::nullopt; // an unknown statistic: the client gives up by itself
    case protocol::Kind::Contacts:
        return answers::contacts(message, contacts);
    default:
        return std::nullopt;
    }
}

} // namespace answers
