#include "answers.h"

namespace answers {

namespace {

const QString ReadFailed = QStringLiteral("The contacts could not be read from the database.");
const QString WriteFailed =
    QStringLiteral("Record not saved: the database could not be written. Please try again.");

QString noSuchContact(const QString& idText)
{
    return QStringLiteral("There is no contact with ID %1.").arg(idText.left(24));
}

QString search(const requests::Search& request, ContactStore& store)
{
    const QList<qint64> matches = store.search(request.field, request.text);
    if (request.browse) {
        const std::optional<Contact> shown =
            request.browseId > 0 ? store.find(request.browseId) : std::nullopt;
        if (!shown)
            return replies::refused(noSuchContact(request.browseIdText));
        return replies::searchResult(*shown, matches);
    }
    if (matches.isEmpty())
        return replies::noMatch();
    const std::optional<Contact> first = store.find(matches.first());
    if (!first)
        return replies::refused(ReadFailed);
    return replies::searchResult(*first, matches);
}

QString save(const requests::Save& request, ContactStore& store)
{
    if (request.isNew) {
        if (request.contact.isBlank())
            return replies::refused(QStringLiteral("Record not saved: nothing has been entered."));
        const std::optional<qint64> id = store.insert(request.contact);
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

QString contacts(const QString& message, ContactStore& contacts)
{
    const requests::ContactsRequest request = requests::parseContacts(message);
    if (const auto* s = std::get_if<requests::Search>(&request))
        return search(*s, contacts);
    if (const auto* s = std::get_if<requests::Save>(&request))
        return save(*s, contacts);
    return replies::refused(std::get<requests::Refusal>(request).text);
}

} // namespace answers
