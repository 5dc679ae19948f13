#include "session/connectingwatch.h"

namespace {

// The descriptor of a socket still connecting. The toolkit tells it only once connected,
// but waits for the connect with a write notifier of its own on it.
qintptr connectingDescriptor(const QTcpSocket& socket)
{
    if (socket.socketDescriptor() >= 0)
        return socket.socketDescriptor();
    for (const QSocketNotifier* notifier : socket.findChildren<QSocketNotifier*>()) {
        if (notifier->type() == QSocketNotifier::Write && notifier->isEnabled())
            return notifier->socket();
    }
    return -1;
}

} // namespace

ConnectingWatch::ConnectingWatch(QTcpSocket& socket, QObject* parent)
    : QObject(parent), m_socket(socket)
{
}

void ConnectingWatch::watch()
{
    stop();
    if (m_socket.state() != QAbstractSocket::ConnectingState)
        return;
    m_copy.attach(connectingDescriptor(m_socket));
    if (m_copy.descriptor() < 0) {
        m_copy.release(); // not held: it would keep a failed attempt's socket open
        return;
    }
    m_news = std::make_unique<QSocketNotifier>(m_copy.descriptor(), QSocketNotifier::Write);
    connect(m_news.get(), &QSocketNotifier::activated, this, [this] {
        // Not from inside the notifier: looking may end the attempt and delete it.
        m_news->setEnabled(false);
        QMetaObject::invokeMethod(this, &ConnectingWatch::look, Qt::QueuedConnection);
    });
}

void ConnectingWatch::stop()
{
    m_news.reset(); // before the descriptor it listens on is closed
    m_copy.release();
    m_unanswered = 0;
}

void ConnectingWatch::look()
{
    if (!m_news)
        return;
    if (m_socket.state() != QAbstractSocket::ConnectingState) {
        stop();
        return;
    }
    if (!m_copy.watches(connectingDescriptor(m_socket))) {
        watch(); // the toolkit went on to the host's next address
        return;
    }
    // The socket had news and the toolkit, having had its turn, still says connecting.
    if (++m_unanswered >= UnansweredLooks) {
        stop();
        emit reset();
        return;
    }
    m_news->setEnabled(true);
}
