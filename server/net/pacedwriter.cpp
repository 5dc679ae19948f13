#include "pacedwriter.h"

#include <QTcpSocket>

PacedWriter::PacedWriter(QTcpSocket* socket, int gapMs, qsizetype maxPendingBytes, QObject* parent)
    : QObject(parent), m_socket(socket), m_gapMs(gapMs), m_maxPending(maxPendingBytes)
{
    m_gap.setSingleShot(true);
    m_gap.setTimerType(Qt::PreciseTimer);
    connect(&m_gap, &QTimer::timeout, this, &PacedWriter::writeNext);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &PacedWriter::onBytesWritten);
}

qsizetype PacedWriter::pendingBytes() const
{
    return m_queuedBytes + m_socket->bytesToWrite();
}

qint64 PacedWriter::stalledForMs() const
{
    return pendingBytes() > 0 ? m_sinceProgress.elapsed() : 0;
}

bool PacedWriter::enqueue(const QByteArray& message)
{
    if (message.isEmpty())
        return true;
    if (pendingBytes() + message.size() > m_maxPending)
        return false;
    if (pendingBytes() == 0)
        m_sinceProgress.start();
    m_queue.enqueue(message);
    m_queuedBytes += message.size();
    writeNext();
    return true;
}

void PacedWriter::writeNext()
{
    if (m_writing || m_gap.isActive() || m_queue.isEmpty())
        return;
    if (m_sinceSent.isValid()) {
        const qint64 waited = m_sinceSent.elapsed();
        if (waited < m_gapMs) {
            m_gap.start(static_cast<int>(m_gapMs - waited));
            return;
        }
    }
    const QByteArray message = m_queue.dequeue();
    m_queuedBytes -= message.size();
    m_writing = true;
    if (m_socket->write(message) != message.size()) {
        // The connection is gone; its owner closes the session.
        m_writing = false;
        m_queue.clear();
        m_queuedBytes = 0;
    }
}

void PacedWriter::onBytesWritten()
{
    m_sinceProgress.start();
    emit progressed();
    if (!m_writing || m_socket->bytesToWrite() > 0)
        return;
    m_writing = false;
    m_sinceSent.start();
    if (!m_queue.isEmpty())
        m_gap.start(m_gapMs);
    else
        emit idle();
}
