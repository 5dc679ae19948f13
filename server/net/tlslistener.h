#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

// Accepts connections that speak TLS from the first byte. Each is handed on at once, with
// its handshake under way, so that it counts among the connections that owe their password
// from the start and its time to send it runs through the handshake too.
class TlsListener final : public QTcpServer {
    Q_OBJECT
public:
    explicit TlsListener(const QSslConfiguration& configuration, QObject* parent = nullptr)
        : QTcpServer(parent), m_configuration(configuration)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration m_configuration;
};
