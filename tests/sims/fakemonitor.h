#pragma once

#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A router's call monitor played on 127.0.0.1 (a port the system chooses): it sends what it
// is given to every client, drops them, counts them, and can flood them with one endless
// line. The base of the other fake network peers.
class FakeMonitor : public QObject {
    Q_OBJECT
public:
    explicit FakeMonitor(QObject* parent = nullptr);
    ~FakeMonitor() override;

    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; } // accepted so far
    qsizetype clients() const { return m_clients.size(); }

    void send(const QByteArray& bytes); // as it is, line ends included
    void dropAll();
    void flood(qint64 bytes); // that many bytes without a line end, to every client

signals:
    void clientCame();

protected:
    virtual void greet(QTcpSocket*) {}
    virtual void heard(QTcpSocket*, const QByteArray&) {}

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_clients;
    int m_connections = 0;
};
