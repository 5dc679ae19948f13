// Client: how received data is classified and put back into messages.
//
// The input is what a server sends, cut into reads at each ReadSeparator. The reads go
// through the assembler as the session feeds them, and what comes out is held against
// the assembler's rules: a read that begins with a known prefix begins a message, a
// statistics or contacts reply takes the following reads that begin with none, and a
// read that continues nothing is dropped. The same bytes with every message in one read
// must give the same messages, and the size a held statistics reply states must be
// followed read by read as the whole reply so far states it. What the dispatcher reads
// from a greeting, keep-alive or call must be all there is of it. A read that is just
// FloodMark stands for one of MaxMessageSize filler bytes, so that a reply can be pushed
// past the size limit: it and the rest of it must then be dropped and reported.

#include "fuzzcheck.h"

#include "session/messageassembler.h"
#include "session/protocol.h"
#include "session/statedsize.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

using protocol::Kind;

// The kind a read's first six bytes name, told apart here without the protocol code.
Kind kindOf(const QByteArray& read)
{
    static const std::array<std::pair<const char*, Kind>, 5> Prefixes{{
        {"Welcom", Kind::Greeting},
        {"PING_:", Kind::Ping},
        {"CALL_:", Kind::Call},
        {"STATS:", Kind::Stats},
        {"CNTAC:", Kind::Contacts},
    }};
    for (const auto& [prefix, kind] : Prefixes) {
        if (read.startsWith(prefix))
            return kind;
    }
    return Kind::Unknown;
}

const QByteArray FloodMark = QByteArrayLiteral("<flood>");

// One buffer shared by every flood: a flood is never copied, since whatever it continues
// grows past the limit with it.
const QByteArray& flood()
{
    static const QByteArray filler(MessageAssembler::MaxMessageSize, 'x');
    return filler;
}

std::vector<QByteArray> withFloods(std::vector<QByteArray> reads)
{
    for (QByteArray& read : reads) {
        if (read == FloodMark)
            read = flood();
    }
    return reads;
}

bool isReply(Kind kind)
{
    return kind == Kind::Stats || kind == Kind::Contacts;
}

struct Held {
    QByteArray bytes;
    Kind kind = Kind::Unknown;
};

// The messages the rules make of the reads (the reply held at the end included), and
// what is held and what is dropped as too long after each read.
struct Expected {
    std::vector<QByteArray> messages;
    std::vector<Held> heldAfter;
    std::vector<qsizetype> droppedAt;
};

Expected expected(const std::vector<QByteArray>& reads)
{
    Expected result;
    Held held;
    bool discarding = false; // the rest of a reply given up as too long
    for (const QByteArray& read : reads) {
        const Kind kind = kindOf(read);
        qsizetype dropped = 0;
        if (kind == Kind::Unknown) {
            if (discarding || held.bytes.isEmpty()) {
                // nothing to continue
            } else if (held.bytes.size() + read.size() > MessageAssembler::MaxMessageSize) {
                dropped = held.bytes.size() + read.size();
                held = {};
                discarding = true;
            } else {
                held.bytes += read;
            }
        } else {
            discarding = false;
            if (!held.bytes.isEmpty())
                result.messages.push_back(held.bytes);
            held = isReply(kind) ? Held{read, kind} : Held{};
            if (!isReply(kind))
                result.messages.push_back(read);
        }
        result.heldAfter.push_back(held);
        result.droppedAt.push_back(dropped);
    }
    if (!held.bytes.isEmpty())
        result.messages.push_back(held.bytes);
    return result;
}

void checkHeld(const MessageAssembler& assembler, const Held& held)
{
    FUZZ_CHECK(assembler.holding() == !held.bytes.isEmpty());
    MessageAssembler copy = assembler;
    FUZZ_CHECK(copy.takeHeld() == held.bytes);
    const bool stats = held.kind == Kind::Stats;
    FUZZ_CHECK(assembler.heldStatsBytes() == (stats ? held.bytes.size() : 0));
    const bool pending = stats && statedsize::progress(held.bytes) == statedsize::Progress::Pending;
    FUZZ_CHECK(assembler.heldShort() == pending);
}

// What the dispatcher takes from a message of each kind loses nothing of it.
void checkReading(const QString& text, Kind kind)
{
    switch (kind) {
    case Kind::Greeting: {
        const protocol::GreetingVersion server = protocol::greetingVersion(text);
        const qsizetype bracket = text.indexOf(QLatin1Char('['));
        FUZZ_CHECK(server.hasBracket == (bracket >= 0));
        FUZZ_CHECK(server.version.isEmpty() || text.mid(bracket + 1).chopped(1) == server.version);
        break;
    }
    case Kind::Ping:
        FUZZ_CHECK(protocol::pongFor(text) ==
                   protocol::PongPrefix + text.mid(protocol::PrefixLength));
        break;
    case Kind::Call: {
        QString withoutPings = text;
        withoutPings.remove(QStringLiteral("Ping!"));
        FUZZ_CHECK(protocol::callFields(text).join(QLatin1Char(',')) == withoutPings);
        break;
    }
    case Kind::Stats:
    case Kind::Contacts:
    case Kind::Unknown:
        break;
    }
}

void checkMessage(const QByteArray& message)
{
    FUZZ_CHECK(!message.isEmpty());
    FUZZ_CHECK(message.size() <= MessageAssembler::MaxMessageSize);
    const Kind kind = protocol::classify(message);
    FUZZ_CHECK(kind != Kind::Unknown);
    // The dispatcher classifies the decoded text again and must come to the same kind.
    const QString text = protocol::decode(message);
    FUZZ_CHECK(protocol::classify(text) == kind);
    checkReading(text, kind);
}

// Feeds the reads as the session does, the held reply taken at the end as the quiet
// timer would; checks what is held after each read.
std::vector<QByteArray> assemble(const std::vector<QByteArray>& reads, const Expected& expect)
{
    MessageAssembler assembler;
    std::vector<QByteArray> messages;
    for (size_t i = 0; i < reads.size(); ++i) {
        const MessageAssembler::Result result = assembler.feed(reads[i]);
        FUZZ_CHECK(result.droppedBytes == expect.droppedAt[i]);
        messages.insert(messages.end(), result.messages.begin(), result.messages.end());
        checkHeld(assembler, expect.heldAfter[i]);
    }
    if (assembler.holding())
        messages.push_back(assembler.takeHeld());
    FUZZ_CHECK(!assembler.holding() && assembler.heldStatsBytes() == 0 && !assembler.heldShort());
    return messages;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<QByteArray> input = fuzzcheck::reads(data, size);
    for (const QByteArray& read : input) {
        const Kind kind = kindOf(read);
        FUZZ_CHECK(protocol::classify(read) == kind);
        FUZZ_CHECK(protocol::classify(QString::fromLatin1(read)) == kind);
        FUZZ_CHECK(MessageAssembler::isStatsOrContacts(read) == isReply(kind));
    }

    const std::vector<QByteArray> reads = withFloods(input);
    const Expected expect = expected(reads);
    const std::vector<QByteArray> messages = assemble(reads, expect);
    FUZZ_CHECK(messages == expect.messages);

    // Floods can be no part of a message, so they are left out of the stream.
    std::vector<QByteArray> withoutFloods = input;
    withoutFloods.erase(std::remove(withoutFloods.begin(), withoutFloods.end(), FloodMark),
                        withoutFloods.end());
    const QByteArray stream = fuzzcheck::joined(withoutFloods);
    FUZZ_CHECK(fuzzcheck::joined(messages).size() <= stream.size());
    FUZZ_CHECK(fuzzcheck::inOrderWithin(messages, stream));
    for (const QByteArray& message : messages)
        checkMessage(message);

    // Each message in one read: the same messages, however the reads had split them.
    FUZZ_CHECK(assemble(messages, expected(messages)) == messages);
    return 0;
}
