#pragma once

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <functional>

class ContactStore;

// Makes up a call every few seconds: mostly from a stored contact's number (now and then
// written without its separators, as a telephone line may report it), sometimes from a
// number no contact has.
class CallSimulator final : public QObject {
    Q_OBJECT
public:
    using Announce = std::function<void(const QString& number)>;

    CallSimulator(ContactStore& contacts, Announce announce, QObject* parent = nullptr);

    void start(int intervalSeconds);

    // The number of the next simulated call.
    QString nextNumber();

private:
    ContactStore& m_contacts;
    Announce m_announce;
    QTimer m_timer;
    QRandomGenerator m_random;
};
