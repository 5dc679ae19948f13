#include "tray/tray.h"

#include "tray/traytip.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPointer>

#ifdef QUILLORA_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#endif

namespace {

// What the tray gets while no image has been set: an empty picture of the icon size.
QIcon emptyIcon()
{
    QPixmap blank(Tray::ImageSize, Tray::ImageSize);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}

// A picture of any size, scaled to fit 32 x 32 with its proportions kept and centred on
// a transparent square.
QPixmap iconSized(const QPixmap& picture)
{
    QPixmap square(Tray::ImageSize, Tray::ImageSize);
    square.fill(Qt::transparent);
    const QPixmap scaled = picture.scaled(Tray::ImageSize, Tray::ImageSize, Qt::KeepAspectRatio,
                                          Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawPixmap((Tray::ImageSize - scaled.width()) / 2,
                       (Tray::ImageSize - scaled.height()) / 2, scaled);
    return square;
}

// Whether a StatusNotifierWatcher on the session bus says a tray (its host) is there. Qt puts
// tray icons there, instead of into an X tray, when this holds as the first icon is made.
bool busTrayHosted()
{
#ifdef QUILLORA_HAVE_DBUS
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, 2000);
    return reply.isValid() && reply.value().variant().toBool();
#else
    return false;
#endif
}

} // namespace

Tray::Tray(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("Tray"));
    // The platforms of the free desktops decide so; the others have trays of their own.
    const QString platform = QGuiApplication::platformName();
    m_viaBus =
        (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"))) &&
        busTrayHosted();
    m_tray = new QSystemTrayIcon(this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    connect(m_tray, &QSystemTrayIcon::activated, this, &Tray::tray_Activated);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &Tray::Timer1_Timer);
}

void Tray::Show(bool UpDateData)
{
    if (UpDateData) {
        m_tray->setIcon(m_TrayImage.isNull() ? emptyIcon() : m_TrayImage);
        m_tray->setToolTip(traytip::shown(traytip::field(m_TrayToolTip)));
        if (!m_IsVisible) {
            m_tray->show();
            m_IsVisible = true;
        }
        return;
    }
    if (m_IsVisible) {
        m_tray->hide();
        m_IsVisible = false;
    }
}

bool Tray::IsHosted() const
{
    return m_viaBus ? busTrayHosted() : QSystemTrayIcon::isSystemTrayAvailable();
}

void Tray::setTrayImage(const QIcon& New_TrayImage)
{
    m_TrayImage = New_TrayImage;
}

void Tray::setTrayImage(const QPixmap& New_TrayImage)
{
    m_TrayImage = New_TrayImage.isNull() ? QIcon() : QIcon(iconSized(New_TrayImage));
}

void Tray::setTrayToolTip(const QString& New_TrayToolTip)
{
    m_TrayToolTip = New_TrayToolTip;
}

void Tray::setEventMode(qint32 New_EventMode)
{
    m_EventMode = qBound(CombinedEvents, New_EventMode, SeparateEvents);
}

void Tray::ReadProperties(const QVariantMap& propBag)
{
    setTrayImage(propBag.value(TrayImageProperty).value<QIcon>());
    setTrayToolTip(propBag.value(TrayToolTipProperty, DefaultToolTip).toString());
    setEventMode(propBag.value(EventModeProperty, CombinedEvents).toInt());
}

QVariantMap Tray::WriteProperties() const
{
    QVariantMap propBag;
    if (!m_TrayImage.isNull())
        propBag.insert(TrayImageProperty, m_TrayImage);
    if (m_TrayToolTip != DefaultToolTip)
        propBag.insert(TrayToolTipProperty, m_TrayToolTip);
    if (m_EventMode != CombinedEvents)
        propBag.insert(EventModeProperty, m_EventMode);
    return propBag;
}

void Tray::tray_Activated(QSystemTrayIcon::ActivationReason reason)
{
    if (m_ClickBusy)
        return;
    // A double click's first press has already been reported as Trigger; the
    // double-click message itself, the middle button and the rest raise nothing.
    if (reason == QSystemTrayIcon::Trigger)
        raiseClick(LeftButton);
    else if (reason == QSystemTrayIcon::Context)
        raiseClick(RightButton);
}

void Tray::raiseClick(int button)
{
    m_ClickBusy = true;
    const QPointer<Tray> alive(this);
    if (m_EventMode == SeparateEvents) {
        if (button == LeftButton)
            emit LeftClick();
        else
            emit RightClick();
    } else {
        emit MouseClick(button);
    }
    // The quiet period starts once the owner's handler has returned, unless that
    // handler has done away with the control (its owner unloaded, for instance).
    if (alive)
        Timer1->start(QuietMilliseconds);
}

void Tray::Timer1_Timer()
{
    m_ClickBusy = false;
}
