#include "answers.h"

#include "session/protocol.h"

namespace answers {

namespace {

const QString ReadFailed = QStringLiteral("The contacts could not be read from the database.");
const QString WriteFailed =
    QStringLiteral("Record not saved: the database could not be written. Please try again.");

QString noSuchContact(const QString& idText)
{
    return QStringLiteral("There is no contact with ID %1.").arg(idText.left(24));
}

// Names the client reads as "nothing found" (see nameReadsAsNoMatch) are never stored,
// and a stored one is never sent where the client expects a record it can show.
QString noMatchNameRefused()
{
    return QStringLiteral("Record not saved: a name that begins with \"%1\" could never be "
                          "found again because Quillora reads a search result beginning with "
                          "\"%1\" as \"nothing found\". Please choose another name.")
        .arg(NoMatchWord);
}

QString cannotShow(const Contact& contact)
{
    return QStringLiteral("Contact %1 cannot be shown: Quillora reads a name beginning with "
                          "\"%2\" as \"nothing found\". Ask the server's operator to rename it.")
        .arg(QString::number(contact.id), NoMatchWord);
}

} // namespace

QByteArray searchReply(const requests::Search& request, const SearchIndex::Matches& matches,
                       ContactStore& store, qsizetype maxBytes)
{
    if (request.browse) {
        const std::optional<Contact> shown =
            request.browseId > 0 ? store.find(request.browseId) : std::nullopt;
        if (!shown)
            return protocol::encode(replies::refused(noSuchContact(request.browseIdText)));
        // Sent as a record, the client would take it for "nothing found" and forget the
        // list it is browsing; refused, it keeps the record it shows.
        if (nameReadsAsNoMatch(shown->name))
            return protocol::encode(replies::refused(cannotShow(*shown)));
        return replies::searchResult(*shown, matches.ids, maxBytes);
    }
    if (matches.ids.isEmpty())
        return protocol::encode(replies::noMatch());
    // When every match reads as "nothing found", the first one goes out all the same.
    const std::optional<Contact> first =
        store.find(matches.firstShown > 0 ? matches.firstShown : matches.ids.first());
    if (!first)
        return protocol::encode(replies::refused(ReadFailed));
    return replies::searchResult(*first, matches.ids, maxBytes);
}

namespace {

QString save(const requests::Save& request, ContactStore& store, const SaveLimits& limits)
{
    if (nameReadsAsNoMatch(request.contact.name))
        return replies::refused(noMatchNameRefused());
    if (request.isNew && request.contact.isBlank())
        return replies::refused(QStringLiteral("Record not saved: nothing has been entered."));
    const qint64 waitMs = limits.rate ? limits.rate->take(limits.client, SaveRate::clock()) : 0;
    if (waitMs > 0) {
        return replies::refused(
            QStringLiteral("Record not saved: %1 records have been saved from this computer in "
                           "the last minute, the most the server takes. Please try again in %2 "
                           "s.")
                .arg(limits.rate->perMinute())
                .arg((waitMs + 999) / 1000));
    }
    if (request.isNew) {
        bool full = false;
        const std::optional<qint64> id = store.insert(request.contact, limits.maxContacts, &full);
        if (full) {
            return replies::refused(
                QStringLiteral("Record not saved: the server holds %1 contacts, the most it "
                               "takes. Records already saved can still be changed.")
                    .arg(limits.maxContacts));
        }
        if (!id)
            return replies::refused(WriteFailed);
        return replies::saved(QStringLiteral("New record saved with ID %1.").arg(*id));
    }
    switch (store.update(request.contact)) {
    case ContactStore::UpdateResult::Updated:
        return replies::saved(QStringLiteral("Record %1 saved.").arg(request.contact.id));
    case ContactStore::UpdateResult::NotFound:
        return replies::refused(QStringLiteral("Record not saved: there is no contact with ID %1.")
                                    .arg(request.contact.id));
    case ContactStore::UpdateResult::Failed:
        break;
    }
    return replies::refused(WriteFailed);
}

} // namespace

QByteArray contacts(const QString& message, ContactStore& contacts, qsizetype maxBytes,
                    const SaveLimits& limits)
{
    const requests::ContactsRequest request = requests::parseContacts(message);
    if (const auto* s = std::get_if<requests::Search>(&request))
        return searchReply(*s, contacts.search(s->field, s->text), contacts, maxBytes);
    if (const auto* s = std::get_if<requests::Save>(&request))
        return protocol::encode(save(*s, contacts, limits));
    return protocol::encode(replies::refused(std::get<requests::Refusal>(request).text));
}

} // namespace answers
