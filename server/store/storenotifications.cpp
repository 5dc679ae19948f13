#include "storenotifications.h"

#include <QSqlError>

#include "controlchannel.h"

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

namespace {

// A backend's process ID or milliseconds since the epoch: digits only, no sign or blanks.
bool parseCount(QStringView text, qint64* value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *value = text.toLongLong();
    return true;
}

} // namespace

void StoreNotifications::received(const QString& channel, QSqlDriver::NotificationSource,
                                  const QVariant& payload)
{
    // Whoever may connect to the database may send on these channels: a payload not as
    // this server writes it is dropped, and a number announced only as the ring command
    // would announce it.
    const QString text = payload.toString();
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    qint64 sender = 0;
    if (!parseCount(QStringView(text).left(space), &sender))
        return;
    // This server's own changes are in its index, and its own calls announced, already.
    // Told apart by the connection's backend in the payload: the driver's own idea of the
    // source does not tell two connections of one process apart.
    if (sender == m_backend)
        return;
    if (channel == QLatin1String(ContactsChannel)) {
        if (space < 0)
            contactsChangedSoon();
        return;
    }
    if (channel != QLatin1String(CallsChannel) || !callRung || space < 0)
        return;
    const QStringView rest = QStringView(text).mid(space + 1);
    const qsizetype numberStart = rest.indexOf(QLatin1Char(' '));
    qint64 msecs = 0;
    if (numberStart < 0 || !parseCount(rest.left(numberStart), &msecs))
        return;
    // A time the call list can show (four-digit years).
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(msecs);
    const QString number = rest.mid(numberStart + 1).trimmed().toString();
    if (at.isValid() && at.date().year() <= 9999 && ControlChannel::checkNumber(number).isEmpty())
        callRung(at, number);
}

void StoreNotifications::contactsChangedSoon()
{
    // The notices that come in together (one read hands over all that libpq holds) are
    // one change to the index: it is emptied once, and reloaded once.
    if (m_contactsQueued)
        return;
    m_contactsQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_contactsQueued = false;
            if (contactsChanged)
                contactsChanged();
        },
        Qt::QueuedConnection);
}
