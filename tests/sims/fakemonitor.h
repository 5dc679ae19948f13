#pragma once

#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A router's call monitor played on 127.0.0.1 (a port the system chooses): it sends what it
// is given to every client, and drops them. The base of the other fake network peers.
class FakeMonitor : public QObject {
    Q_OBJECT
public:
    explicit FakeMonitor(QObject* parent = nullptr);
    ~FakeMonitor() override;

    quint16 port() const { return m_server.serverPort(); }

    void send(const QByteArray& bytes); // as it is, line ends included
    void dropAll();

signals:
    void clientCame();

protected:
    virtual void greet(QTcpSocket*) {}
    virtual void heard(QTcpSocket*, const QByteArray&) {}

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_clients;
};
