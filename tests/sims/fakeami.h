#pragma once

#include "fakemonitor.h"

#include <QByteArrayList>
#include <QHash>

// A PBX's manager interface played on 127.0.0.1: it greets with the banner, answers a login
// with Success when the user and secret match (Error otherwise), keeps all it was sent, and
// sends events given as "Key: Value" lists to every client.
class FakeAmi final : public FakeMonitor {
    Q_OBJECT
public:
    FakeAmi(const QByteArray& user, const QByteArray& secret, QObject* parent = nullptr)
        : FakeMonitor(parent), m_user(user), m_secret(secret)
    {
    }

    void setSecret(const QByteArray& secret) { m_secret = secret; }
    QByteArray received() const { return m_received; } // from all clients, in order
    void sendEvent(const QByteArrayList& fields) { send(fields.join("\r\n") + "\r\n\r\n"); }

protected:
    void greet(QTcpSocket* socket) override;
    void heard(QTcpSocket* socket, const QByteArray& bytes) override;

private:
    QByteArray m_user;
    QByteArray m_secret;
    QByteArray m_received;
    QHash<QTcpSocket*, QByteArray> m_pending; // each client's action not yet complete
};
