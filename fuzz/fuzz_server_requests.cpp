// Server: how an authenticated client's request is read.
//
// The input is one received message, read both as a statistics and as a contacts
// request. A statistics request is told by its kind alone and its count always lands
// within 1..MaxCount, a plain count in that range as sent. A search or save request read
// back into text is the message itself, a save holds no control character, and a refusal,
// whose text goes back to the client, stays short however long the request was.

#include "fuzzcheck.h"

#include "printable.h"
#include "requests.h"
#include "session/protocol.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr qsizetype LongestRefusal = 200;

void checkStats(const QString& message, const std::optional<requests::StatsRequest>& request)
{
    using requests::StatsKind;
    static const std::array<std::pair<const char*, StatsKind>, 4> Heads{{
        {"STATS:LAST", StatsKind::Last},
        {"STATS:UNKN", StatsKind::Unknown},
        {"STATS:TOPS", StatsKind::Top},
        {"STATS:CNTS", StatsKind::Contacts},
    }};
    for (const auto& [head, kind] : Heads) {
        if (!message.startsWith(QLatin1String(head)))
            continue;
        FUZZ_CHECK(request.has_value() && request->kind == kind);
        if (kind == StatsKind::Contacts) {
            FUZZ_CHECK(request->count == 0);
            return;
        }
        FUZZ_CHECK(request->count >= 1 && request->count <= requests::MaxCount);
        const QString afterKind = message.mid(qsizetype(qstrlen(head)));
        const QString count = afterKind.mid(1).trimmed();
        bool ok = false;
        const qlonglong value = count.toLongLong(&ok);
        if (afterKind.startsWith(QLatin1Char(';')) && protocol::isAllDigits(count) && ok &&
            value >= 1 && value <= requests::MaxCount)
            FUZZ_CHECK(request->count == value);
        return;
    }
    FUZZ_CHECK(!request.has_value());
}

QString codeOf(requests::SearchField field)
{
    static const std::array<const char*, 7> Codes{"ALLF", "NAME", "PHON", "MOBI",
                                                  "EMAI", "BPHO", "BFAX"};
    return QLatin1String(Codes.at(static_cast<size_t>(field)));
}

void checkSearch(const QString& message, const requests::Search& search)
{
    QString request =
        QStringLiteral("CNTAC:SEAR;") + codeOf(search.field) + QLatin1Char(';') + search.text;
    if (search.browse) {
        FUZZ_CHECK(protocol::isAllDigits(search.browseIdText));
        request += QStringLiteral(",@RECORD:") + search.browseIdText;
        bool ok = false;
        const qlonglong id = search.browseIdText.toLongLong(&ok);
        FUZZ_CHECK(search.browseId == (ok ? id : -1));
    } else {
        FUZZ_CHECK(search.browseIdText.isEmpty() && search.browseId == -1);
    }
    FUZZ_CHECK(request == message);
}

void checkSave(const QString& message, const requests::Save& save)
{
    const Contact& contact = save.contact;
    const QStringList fields{contact.name,  contact.home,          contact.mobile,
                             contact.email, contact.businessPhone, contact.businessFax};
    for (const QString& field : fields) {
        FUZZ_CHECK(!field.contains(QLatin1Char(',')));
        FUZZ_CHECK(std::none_of(field.cbegin(), field.cend(), printable::isControl));
    }
    const QString head = QStringLiteral("CNTAC:SAVE;");
    const QString tail = QLatin1Char(',') + fields.join(QLatin1Char(','));
    FUZZ_CHECK(message.startsWith(head) && message.endsWith(tail));
    const QString key = message.mid(head.size(), message.size() - head.size() - tail.size());
    if (save.isNew) {
        FUZZ_CHECK(key == QStringLiteral("NEW") && contact.id == 0);
    } else {
        FUZZ_CHECK(contact.id > 0 && protocol::isAllDigits(key));
        FUZZ_CHECK(key.toLongLong() == contact.id);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString message = protocol::decode(fuzzcheck::bytes(data, size));
    checkStats(message, requests::parseStats(message));

    const requests::ContactsRequest request = requests::parseContacts(message);
    if (const auto* search = std::get_if<requests::Search>(&request)) {
        checkSearch(message, *search);
    } else if (const auto* save = std::get_if<requests::Save>(&request)) {
        checkSave(message, *save);
    } else {
        const QString& refusal = std::get<requests::Refusal>(request).text;
        FUZZ_CHECK(!refusal.isEmpty() && refusal.size() <= LongestRefusal);
    }
    return 0;
}
