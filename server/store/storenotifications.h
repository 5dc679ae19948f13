#pragma once

#include <QDateTime>
#include <QObject>
#include <QSqlDriver>
#include <functional>

// What servers sharing one PostgreSQL database tell each other through it: that contacts
// changed, and that a call rang. Each server sends NOTIFY inside the transaction that
// wrote the change, so the others hear of it only once it is committed, and LISTENs for
// the others' on its own connection; the driver's socket notifier hands them over.
class StoreNotifications final : public QObject {
public:
    static constexpr char ContactsChannel[] = "quillora_contacts";
    static constexpr char CallsChannel[] = "quillora_calls";
    // NOTIFY takes payloads shorter than this many bytes.
    static constexpr qsizetype MaxPayloadBytes = 8000;

    // Subscribes to both channels on the driver's connection, whose backend process ID
    // marks the notifications it sends.
    bool listen(QSqlDriver* driver, qint64 backend, QString* error);

    // Hands over, at the next turn of the event loop, the notifications that came in
    // with the replies to statements run since.
    void checkSoon();

    // What the notifications carry: who sent them; for a call, its time and number.
    QString contactsPayload() const;
    QString callPayload(const QDateTime& at, const QString& number) const;

    // Called for the others' notices: at the next turn of the event loop, once for all
    // the contacts notices that came in together.
    std::function<void()> contactsChanged;
    std::function<void(const QDateTime& at, const QString& number)> callRung;

private:
    QSqlDriver* m_driver = nullptr;
    qint64 m_backend = 0;
    bool m_checkQueued = false;
    bool m_contactsQueued = false;
    void received(const QString& channel, QSqlDriver::NotificationSource source,
                  const QVariant& payload);
    void contactsChangedSoon();
};
