#include "fakeami.h"

#include <QTcpSocket>

void FakeAmi::greet(QTcpSocket* socket)
{
    connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
    socket->write("Asterisk Call Manager/5.0.2\r\n");
}

void FakeAmi::heard(QTcpSocket* socket, const QByteArray& bytes)
{
    m_received += bytes;
    QByteArray& pending = m_pending[socket];
    pending += bytes;
    for (qsizetype end; (end = pending.indexOf("\r\n\r\n")) >= 0;) {
        const QByteArrayList lines = pending.left(end).split('\n');
        pending.remove(0, end + 4);
        const auto has = [&lines](const QByteArray& line) {
            return lines.contains(line + '\r') || lines.endsWith(line);
        };
        if (!has("Action: Login"))
            continue;
        const bool match = has("Username: " + m_user) && has("Secret: " + m_secret);
        socket->write(match ? "Response: Success\r\nMessage: Authentication accepted\r\n\r\n"
                            : "Response: Error\r\nMessage: Authentication failed\r\n\r\n");
    }
}
