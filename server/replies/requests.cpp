#include "requests.h"

#include "printable.h"
#include "session/protocol.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace requests {

namespace {

int parseCount(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!protocol::isAllDigits(trimmed))
        return DefaultCount;
    bool ok = false;
    const qlonglong value = trimmed.toLongLong(&ok);
    if (!ok) // more digits than any count could have
        return MaxCount;
    if (value <= 0)
        return DefaultCount;
    return static_cast<int>(qMin<qlonglong>(value, MaxCount));
}

struct FieldCode {
    const char* code;
    SearchField field;
};

constexpr std::array<FieldCode, 7> FieldCodes{{
    {"ALLF", SearchField::All},
    {"NAME", SearchField::Name},
    {"PHON", SearchField::Home},
    {"MOBI", SearchField::Mobile},
    {"EMAI", SearchField::Email},
    {"BPHO", SearchField::BusinessPhone},
    {"BFAX", SearchField::BusinessFax},
}};

const QString SearchHead = QStringLiteral("CNTAC:SEAR;");
const QString SaveHead = QStringLiteral("CNTAC:SAVE;");
const QString BrowseMarker = QStringLiteral(",@RECORD:");
const QString NewKey = QStringLiteral("NEW");

ContactsRequest parseSearch(const QString& payload)
{
    Search search;
    QString request = payload;
    const qsizetype marker = request.lastIndexOf(BrowseMarker);
    if (marker >= 0) {
        const QString idText = request.mid(marker + BrowseMarker.size());
        // Only a whole number makes a browse request; anything else belongs to the
        // search text itself.
        if (protocol::isAllDigits(idText)) {
            search.browse = true;
            search.browseIdText = idText;
            bool ok = false;
            const qlonglong id = idText.toLongLong(&ok);
            search.browseId = ok ? id : -1;
            request.truncate(marker);
        }
    }

    const qsizetype semicolon = request.indexOf(QLatin1Char(';'));
    if (semicolon < 0)
        return Refusal{QStringLiteral("Malformed search request: the search field is missing.")};
    const QString code = request.left(semicolon);
    search.text = request.mid(semicolon + 1);
    for (const FieldCode& entry : FieldCodes) {
        if (code == QLatin1String(entry.code)) {
            search.field = entry.field;
            return search;
        }
    }
    return Refusal{QStringLiteral("Unknown search field \"%1\".").arg(code.left(16))};
}

ContactsRequest parseSave(const QString& payload)
{
    const QStringList parts = payload.split(QLatin1Char(','), Qt::KeepEmptyParts);
    constexpr int Expected = 7; // the key and six fields
    if (parts.size() > Expected) {
        return Refusal{QStringLiteral("Record not saved: it arrived with %1 fields instead of 6. "
                                      "Commas cannot be stored in contact fields.")
                           .arg(parts.size() - 1)};
    }
    if (parts.size() < Expected) {
        return Refusal{QStringLiteral("Record not saved: malformed save request (%1 fields "
                                      "instead of 6).")
                           .arg(parts.size() - 1)};
    }

    Save save;
    const QString& key = parts[0];
    if (key == NewKey) {
        save.isNew = true;
    } else {
        bool ok = false;
        const qlonglong id = protocol::isAllDigits(key) ? key.toLongLong(&ok) : 0;
        if (!ok || id <= 0) {
            return Refusal{
                QStringLiteral("Record not saved: \"%1\" is not a record ID.").arg(key.left(24))};
        }
        save.contact.id = id;
    }
    // In the order of the request, with the names the contacts window gives them.
    const std::array<std::pair<QString*, const char*>, 6> fields{{
        {&save.contact.name, "name"},
        {&save.contact.home, "home number"},
        {&save.contact.mobile, "mobile number"},
        {&save.contact.email, "e-mail address"},
        {&save.contact.businessPhone, "business number"},
        {&save.contact.businessFax, "business fax"},
    }};
    for (size_t i = 0; i < fields.size(); ++i) {
        const QString& value = parts[qsizetype(i) + 1];
        if (value.size() > MaxFieldLength) {
            return Refusal{QStringLiteral("Record not saved: the %1 is %2 characters long, but "
                                          "a field can hold at most %3 characters.")
                               .arg(QLatin1String(fields[i].second))
                               .arg(value.size())
                               .arg(MaxFieldLength)};
        }
        const auto control = std::find_if(value.cbegin(), value.cend(), printable::isControl);
        if (control != value.cend()) {
            return Refusal{QStringLiteral("Record not saved: the %1 holds the control character "
                                          "U+%2, which cannot be stored. Please remove it.")
                               .arg(QLatin1String(fields[i].second),
                                    QString::number(control->unicode(), 16)
                                        .toUpper()
                                        .rightJustified(4, QLatin1Char('0')))};
        }
        *fields[i].first = value;
    }
    return save;
}

} // namespace

std::optional<StatsRequest> parseStats(const QString& message)
{
    static const std::array<std::pair<QString, StatsKind>, 4> Kinds{{
        {QStringLiteral("STATS:LAST"), StatsKind::Last},
        {QStringLiteral("STATS:UNKN"), StatsKind::Unknown},
        {QStringLiteral("STATS:TOPS"), StatsKind::Top},
        {QStringLiteral("STATS:CNTS"), StatsKind::Contacts},
    }};
    for (const auto& [head, kind] : Kinds) {
        if (!message.startsWith(head))
            continue;
        // The count follows a ";" (anything else after the kind counts as no count).
        QString argument;
        if (message.size() > head.size() && message.at(head.size()) == QLatin1Char(';'))
            argument = message.mid(head.size() + 1);
        return StatsRequest{kind, kind == StatsKind::Contacts ? 0 : parseCount(argument)};
    }
    return std::nullopt;
}

ContactsRequest parseContacts(const QString& message)
{
    if (message.startsWith(SearchHead))
        return parseSearch(message.mid(SearchHead.size()));
    if (message.startsWith(SaveHead))
        return parseSave(message.mid(SaveHead.size()));
    return Refusal{QStringLiteral("Unknown contacts request.")};
}

} // namespace requests
