#pragma once

#include <QByteArray>
#include <utility>

// A reply built a slice at a time. Each step() does a bounded amount of work (one query of
// at most RowsPerStep records, adding about SliceBytes at most), so that a reply of many
// megabytes never holds up the answers to other clients for long: the server runs the
// steps of such replies one per turn of its event loop.
class ReplyJob {
public:
    static constexpr int RowsPerStep = 128;
    static constexpr qsizetype SliceBytes = 64 * 1024;

    virtual ~ReplyJob() = default;
    // Does the next slice of work; true once the reply is complete.
    virtual bool step() = 0;
    // How many bytes of the message are built so far.
    virtual qsizetype size() const = 0;
    // The complete message, encoded for the wire.
    virtual QByteArray take() = 0;
};

// A reply that was complete from the start.
class ReadyReply final : public ReplyJob {
public:
    explicit ReadyReply(QByteArray message) : m_message(std::move(message)) {}
    bool step() override { return true; }
    qsizetype size() const override { return m_message.size(); }
    QByteArray take() override { return std::exchange(m_message, QByteArray()); }

private:
    QByteArray m_message;
};
