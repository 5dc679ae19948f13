#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

class QTcpSocket;

// Writes a client's messages one at a time: each with a single write, and the next only
// when the previous one has left the socket's buffer and at least `gapMs` have passed
// since. The client takes every burst it receives as one message, so two messages
// must never reach it together.
class PacedWriter final : public QObject {
    Q_OBJECT
public:
    PacedWriter(QTcpSocket* socket, int gapMs, qsizetype maxPendingBytes,
                QObject* parent = nullptr);

    // Queues a message. False when the client's backlog would pass the limit (a client
    // that does not read); the message is then not queued.
    bool enqueue(const QByteArray& message);

    qsizetype pendingBytes() const;
    bool isIdle() const { return m_queue.isEmpty() && !m_writing; }
    // How long bytes have been waiting without any of them leaving (0 when none wait): a
    // client that does not read stalls its writer.
    qint64 stalledForMs() const;

signals:
    // Bytes have left the buffer.
    void progressed();
    // Everything queued has left the buffer.
    void idle();

private:
    void writeNext();
    void onBytesWritten();

    QTcpSocket* m_socket;
    int m_gapMs;
    qsizetype m_maxPending;
    QQueue<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    bool m_writing = false;
    QElapsedTimer m_sinceSent;     // since the last message left the buffer
    QElapsedTimer m_sinceProgress; // since bytes last left, or began to wait
    QTimer m_gap;
};
