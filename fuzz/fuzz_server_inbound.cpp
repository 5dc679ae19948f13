// Server: how what a client sends is put back into messages.
//
// The input is what a client sends, cut into reads at each ReadSeparator, fed to an
// assembler with the shipped size limit and to one with a limit the inputs can pass.
// No message may exceed the limit. With nothing dropped, the messages are the stream
// itself cut apart, nothing lost, doubled or reordered; otherwise they are pieces of it,
// in order. A first read shorter than WholeBelow is a whole message and handed on at
// once, and a short keep-alive answer carries digits only. And a message written at once
// comes out whole however its reads were cut, as long as its first read is too long to
// be whole by itself and no later read looks like the start of a request: fed in one
// read or in many, it is the same single message.

#include "fuzzcheck.h"

#include "inboundassembler.h"

#include <QByteArrayView>
#include <algorithm>

namespace {

// ServerConfig::maxMessageBytes as shipped.
constexpr qsizetype ShippedLimit = 64 * 1024;
// Above WholeBelow, so that reads are held and continued before the limit is passed.
constexpr qsizetype SmallLimit = 700;

constexpr QByteArrayView PongPrefix("PONG_:");

bool beginsRequest(QByteArrayView read)
{
    return read.startsWith(PongPrefix) || read.startsWith("STATS:") || read.startsWith("CNTAC:");
}

struct Run {
    std::vector<QByteArray> messages;
    bool dropped = false;
};

Run assemble(const std::vector<QByteArray>& reads, qsizetype limit)
{
    InboundAssembler assembler(limit);
    Run run;
    for (const QByteArray& read : reads) {
        const InboundAssembler::Result result = assembler.feed(read);
        run.messages.insert(run.messages.end(), result.messages.begin(), result.messages.end());
        run.dropped = run.dropped || result.dropped;
        // A shorter first read is whole and handed on at once; only longer ones wait.
        InboundAssembler copy = assembler;
        const QByteArray held = copy.takeHeld();
        FUZZ_CHECK(held.isEmpty() || held.size() >= InboundAssembler::WholeBelow);
    }
    if (assembler.holding())
        run.messages.push_back(assembler.takeHeld());
    FUZZ_CHECK(!assembler.holding());
    return run;
}

void checkRun(const Run& run, const QByteArray& stream, qsizetype limit)
{
    for (const QByteArray& message : run.messages) {
        FUZZ_CHECK(!message.isEmpty() && message.size() <= limit);
        if (message.startsWith(PongPrefix) && message.size() < InboundAssembler::WholeBelow) {
            const QByteArrayView counter = QByteArrayView(message).sliced(PongPrefix.size());
            FUZZ_CHECK(std::all_of(counter.begin(), counter.end(),
                                   [](char c) { return c >= '0' && c <= '9'; }));
        }
    }
    const QByteArray all = fuzzcheck::joined(run.messages);
    if (run.dropped) {
        FUZZ_CHECK(all.size() < stream.size());
        FUZZ_CHECK(fuzzcheck::inOrderWithin(run.messages, stream));
    } else {
        FUZZ_CHECK(all == stream);
    }
}

// The reads joined where they must be for the stream to be one message: the first piece
// long enough not to count as whole, no later one beginning like a request.
std::vector<QByteArray> asOneMessage(const std::vector<QByteArray>& reads)
{
    std::vector<QByteArray> pieces;
    for (const QByteArray& read : reads) {
        if (pieces.empty())
            pieces.push_back(read);
        else if (pieces.front().size() < InboundAssembler::WholeBelow || beginsRequest(read))
            pieces.back() += read;
        else
            pieces.push_back(read);
    }
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<QByteArray> reads = fuzzcheck::reads(data, size);
    const QByteArray stream = fuzzcheck::joined(reads);
    for (const qsizetype limit : {ShippedLimit, SmallLimit}) {
        checkRun(assemble(reads, limit), stream, limit);

        // A keep-alive answer ends at its last digit, so a stream that begins with one
        // is more than one message.
        if (stream.isEmpty() || stream.startsWith(PongPrefix) || stream.size() > limit)
            continue;
        const std::vector<QByteArray> whole{stream};
        const Run inOneRead = assemble(whole, limit);
        FUZZ_CHECK(!inOneRead.dropped && inOneRead.messages == whole);
        const Run inPieces = assemble(asOneMessage(reads), limit);
        FUZZ_CHECK(!inPieces.dropped && inPieces.messages == whole);
    }
    return 0;
}
