#pragma once

// What the fuzz targets share: a check that stops the run, and the way an input is cut
// into the reads of a conversation.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// An invariant the code under test must keep. A broken one aborts, which libFuzzer
// reports like a crash, with the input that broke it saved as the reproducer.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzcheck::fail(#condition, __FILE__, __LINE__);                                       \
    } while (false)

namespace fuzzcheck {

[[noreturn]] inline void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The byte that separates two reads in a conversation input (ASCII record separator). A
// read cannot hold it; the protocol gives it no meaning, so nothing is lost by that.
inline constexpr char ReadSeparator = '\x1e';

// The reads of a conversation, empty ones left out: the socket never delivers those.
inline std::vector<QByteArray> reads(const uint8_t* data, size_t size)
{
    std::vector<QByteArray> result;
    for (const QByteArray& read : bytes(data, size).split(ReadSeparator)) {
        if (!read.isEmpty())
            result.push_back(read);
    }
    return result;
}

inline QByteArray joined(const std::vector<QByteArray>& parts)
{
    QByteArray all;
    for (const QByteArray& part : parts)
        all += part;
    return all;
}

// Whether the parts occur in the stream one after the other, in order and without
// overlapping: what an assembler hands on is the stream with pieces left out, never
// anything reordered, repeated or made up.
inline bool inOrderWithin(const std::vector<QByteArray>& parts, const QByteArray& stream)
{
    qsizetype from = 0;
    for (const QByteArray& part : parts) {
        const qsizetype at = stream.indexOf(part, from);
        if (at < 0)
            return false;
        from = at + part.size();
    }
    return true;
}

} // namespace fuzzcheck
