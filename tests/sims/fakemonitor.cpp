#include "fakemonitor.h"

#include <QTcpSocket>

FakeMonitor::FakeMonitor(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            m_clients.append(socket);
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_clients.removeOne(socket);
                socket->deleteLater();
            });
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket] { heard(socket, socket->readAll()); });
            greet(socket);
            emit clientCame();
        }
    });
    if (!m_server.listen(QHostAddress::LocalHost))
        qFatal("fake peer: cannot listen: %s", qPrintable(m_server.errorString()));
}

FakeMonitor::~FakeMonitor()
{
    // The server deletes its clients after this object's members are gone.
    for (QTcpSocket* socket : std::as_const(m_clients))
        socket->disconnect(this);
}

void FakeMonitor::send(const QByteArray& bytes)
{
    for (QTcpSocket* socket : std::as_const(m_clients))
        socket->write(bytes);
}

void FakeMonitor::dropAll()
{
    const QList<QTcpSocket*> clients = m_clients; // disconnected() takes each off the list
    for (QTcpSocket* socket : clients)
        socket->abort();
}
