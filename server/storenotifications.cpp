#include "storenotifications.h"

#include <QSqlError>

bool StoreNotifications::listen(QSqlDriver* driver, qint64 backend, QString* error)
{
    m_backend = backend;
    for (const char* channel : {ContactsChannel, CallsChannel}) {
        if (!driver->subscribeToNotification(QLatin1String(channel))) {
            *error = QStringLiteral("Cannot listen for %1: %2")
                         .arg(QLatin1String(channel), driver->lastError().text());
            return false;
        }
    }
    connect(driver, &QSqlDriver::notification, this, &StoreNotifications::received);
    m_driver = driver;
    return true;
}

void StoreNotifications::checkSoon()
{
    // A statement's reply may bring notifications along; libpq keeps them, and the
    // driver's socket notifier, finding nothing left to read, would not hand them over
    // until something else arrived. One look per turn of the event loop that ran
    // statements, none while idle.
    if (m_checkQueued || !m_driver)
        return;
    m_checkQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_checkQueued = false;
            QMetaObject::invokeMethod(m_driver, "_q_handleNotification");
        },
        Qt::QueuedConnection);
}

QString StoreNotifications::contactsPayload() const
{
    return QString::number(m_backend);
}

QString StoreNotifications::callPayload(const QDateTime& at, const QString& number) const
{
    return QStringLiteral("%1 %2 ").arg(m_backend).arg(at.toMSecsSinceEpoch()) + number;
}

void StoreNotifications::received(const QString& channel, QSqlDriver::NotificationSource,
                                  const QVariant& payload)
{
    // This server's own changes are in its index, and its own calls announced, already.
    // Told apart by the connection's backend in the payload: the driver's own idea of the
    // source does not tell two connections of one process apart.
    QString text = payload.toString();
    const qsizetype sender = text.indexOf(QLatin1Char(' '));
    if (text.left(sender).toLongLong() == m_backend)
        return;
    text = sender < 0 ? QString() : text.mid(sender + 1);
    if (channel == QLatin1String(ContactsChannel)) {
        if (contactsChanged)
            contactsChanged();
        return;
    }
    if (channel != QLatin1String(CallsChannel) || !callRung)
        return;
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    bool ok = false;
    const qint64 msecs = text.left(space).toLongLong(&ok);
    if (space > 0 && ok)
        callRung(QDateTime::fromMSecsSinceEpoch(msecs), text.mid(space + 1));
}
