#pragma once

#include "session/resetwatch.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <memory>

// Ends a connect that the toolkit would never finish. When the peer resets a connection
// the moment it has accepted it, the toolkit takes the reset for a connect still under
// way and starts it again, on and on, as fast as the event loop turns, hammering the
// server and never reporting. The watch holds a second descriptor of the socket being
// connected. A socket with news (its connect came through or failed) is one the toolkit
// takes up in the same turn of the loop; when the watch looks after the toolkit's turn,
// time and again, and finds it still connecting on the same socket, the attempt is
// reported as reset. Linux only: elsewhere it watches nothing.
class ConnectingWatch final : public QObject {
    Q_OBJECT
public:
    explicit ConnectingWatch(QTcpSocket& socket, QObject* parent = nullptr);

    // Watches the socket's present attempt, if it is connecting.
    void watch();
    void stop();

    // Looks in a row that find the toolkit still connecting after the socket had news;
    // more than one, so that a toolkit a turn late is not taken for a stuck one.
    static constexpr int UnansweredLooks = 3;

signals:
    void reset();

private:
    void look();

    QTcpSocket& m_socket;
    ResetWatch m_copy;
    std::unique_ptr<QSocketNotifier> m_news;
    int m_unanswered = 0;
};
