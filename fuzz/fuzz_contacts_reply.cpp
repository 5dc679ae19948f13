// Client: how the contacts window takes a "CNTAC:" reply apart.
//
// The input is one received message. Its kind must follow from its prefix alone, an
// error or save reply's text is the rest of it verbatim, and every entry of a search
// reply is accounted for: at most six fields, then the shown ID, then the IDs found.
// Record IDs read from a reply must read back the same from their plain decimal form.

#include "fuzzcheck.h"

#include "contacts/contactsprotocol.h"
#include "session/protocol.h"

namespace {

using Kind = contacts::Reply::Kind;

void checkRecordId(const QString& text)
{
    const contacts::RecordId id = contacts::parseRecordId(text);
    if (id.status != contacts::RecordId::Status::Ok) {
        FUZZ_CHECK(id.value == 0);
        return;
    }
    const contacts::RecordId again = contacts::parseRecordId(QString::number(id.value));
    FUZZ_CHECK(again.status == contacts::RecordId::Status::Ok && again.value == id.value);
    if (protocol::isAllDigits(text) && text.size() <= 18)
        FUZZ_CHECK(id.value == text.toLongLong());
}

void checkSaveText(const QString& text)
{
    const QString id = contacts::newRecordId(text);
    if (id.isEmpty())
        return;
    FUZZ_CHECK(protocol::isAllDigits(id) && id.size() <= 18);
    FUZZ_CHECK(text == QStringLiteral("New record saved with ID ") + id + QLatin1Char('.'));
    checkRecordId(id);
}

bool nothingElse(const contacts::Reply& reply)
{
    return reply.fields.isEmpty() && !reply.hasId && reply.id.isEmpty() && reply.records.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString message = protocol::decode(fuzzcheck::bytes(data, size));
    const contacts::Reply reply = contacts::parseReply(message);

    const bool error = message.startsWith(contacts::ErrorPrefix);
    if (error || message.startsWith(contacts::SavePrefix)) {
        FUZZ_CHECK(reply.kind == (error ? Kind::Error : Kind::Save));
        const qsizetype prefix = (error ? contacts::ErrorPrefix : contacts::SavePrefix).size();
        FUZZ_CHECK(reply.text == message.mid(prefix));
        FUZZ_CHECK(nothingElse(reply));
        if (!error)
            checkSaveText(reply.text);
        return 0;
    }
    if (message.startsWith(contacts::NoResultPrefix) ||
        !message.startsWith(contacts::SearchPrefix)) {
        const bool none = message.startsWith(contacts::NoResultPrefix);
        FUZZ_CHECK(reply.kind == (none ? Kind::NoResult : Kind::Ignored));
        FUZZ_CHECK(reply.text.isEmpty() && nothingElse(reply));
        return 0;
    }

    FUZZ_CHECK(reply.kind == Kind::Records);
    FUZZ_CHECK(reply.text.isEmpty());
    const QString payload = message.mid(contacts::SearchPrefix.size());
    const qsizetype entries = payload.isEmpty() ? 0 : payload.count(QLatin1Char(',')) + 1;
    FUZZ_CHECK(reply.fields.size() <= contacts::FieldCount);
    FUZZ_CHECK(!reply.hasId || reply.fields.size() == contacts::FieldCount);
    FUZZ_CHECK(reply.hasId || (reply.id.isEmpty() && reply.records.isEmpty()));
    FUZZ_CHECK(reply.fields.size() + (reply.hasId ? 1 : 0) + reply.records.size() == entries);
    for (const QString& field : reply.fields)
        FUZZ_CHECK(!field.contains(QLatin1Char(',')));
    for (qsizetype i = 0; i < reply.records.size(); ++i)
        checkRecordId(reply.records.at(i));
    if (reply.hasId)
        checkRecordId(reply.id);
    return 0;
}
