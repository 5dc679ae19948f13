#include "notify/desktopnotifier.h"

#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"

#include <QPointer>

#ifdef QUILLORA_HAVE_DBUS
#include "shell/programicon.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QImage>
#include <optional>
#endif

namespace desktopnotifier {

namespace {

// The text cut to `length` characters (the last one an ellipsis), control characters as
// spaces.
QString bounded(const QString& text, int length)
{
    QString out = text.size() > length ? text.left(length - 1) : text;
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    if (out.size() < text.size())
        out += QChar(0x2026);
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return out;
}

bool wanted()
{
    return SettingsStore::isOn(GetSetting(SettingsStore::ClientDesktopNotify));
}

#ifdef QUILLORA_HAVE_DBUS

// Why notifications do not get through, in the log once until one gets through again.
bool s_failureTold = false;

void tellFailure(const QString& why)
{
    if (s_failureTold)
        return;
    s_failureTold = true;
    if (FrmMain* main = forms::loadedOrNull<FrmMain>())
        main->txtOut(QStringLiteral("No desktop notification: %1.").arg(bounded(why, 120)));
}

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString IconName = QStringLiteral("quillora-client"); // as the packages install it

// The picture sent along where the icon theme has no icon of that name (a build that is not
// installed): the drawn icon as the "image-data" hint's structure (iiibiiay).
struct ImageData {
    QImage image;
};

QDBusArgument& operator<<(QDBusArgument& out, const ImageData& data)
{
    const QImage& i = data.image;
    out.beginStructure();
    out << i.width() << i.height() << int(i.bytesPerLine()) << true << 8 << 4
        << QByteArray(reinterpret_cast<const char*>(i.constBits()), qsizetype(i.sizeInBytes()));
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, ImageData&)
{
    return in; // only ever sent
}

} // namespace
} // namespace desktopnotifier

Q_DECLARE_METATYPE(desktopnotifier::ImageData)

namespace desktopnotifier {
namespace {

QVariantMap hints()
{
    QVariantMap hints{{QStringLiteral("desktop-entry"), IconName}};
    if (!QIcon::hasThemeIcon(IconName)) {
        static const QImage image =
            programIcon().pixmap(48).toImage().convertToFormat(QImage::Format_RGBA8888);
        static const QMetaType type = qDBusRegisterMetaType<ImageData>();
        Q_UNUSED(type)
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageData{image}));
    }
    return hints;
}

// The notifications of one kind, each replacing the one before while it is about the same
// thing (key). One is remembered; a request is out at a time, and of the updates that come
// meanwhile the latest waits for its id.
struct Chain {
    explicit Chain(const QString& title) : summary(title) {}
    QString summary;
    QString key;
    uint id = 0;      // the service's id of the key's notification; 0: none yet
    quint64 sent = 0; // counts the requests, so that an earlier key's late reply is known
    bool waiting = false;
    std::optional<QString> queued;
    QPointer<QObject> context;
    std::function<void()> otherwise;
};

void post(Chain& chain, const QString& body);

void replied(Chain& chain, quint64 request, const QDBusPendingReply<uint>& reply)
{
    if (request != chain.sent)
        return; // about an earlier key
    chain.waiting = false;
    if (reply.isError()) {
        tellFailure(reply.error().name());
        chain.id = 0;
        chain.queued.reset();
        if (chain.otherwise && chain.context)
            chain.otherwise();
        return;
    }
    s_failureTold = false;
    chain.id = reply.value();
    if (chain.queued) {
        const QString body = *chain.queued;
        chain.queued.reset();
        post(chain, body);
    }
}

void post(Chain& chain, const QString& body)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(Service, Path, Service, "Notify");
    notify << QStringLiteral("Quillora Client") << chain.id << IconName << chain.summary << body
           << QStringList() << hints() << qint32(-1);
    const quint64 request = ++chain.sent;
    chain.waiting = true;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                     [&chain, request](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         replied(chain, request, *done);
                     });
}

// Sends, or keeps for later while the key's id is still awaited.
void send(Chain& chain, const QString& key, const QString& body)
{
    if (!QDBusConnection::sessionBus().isConnected()) {
        tellFailure(QStringLiteral("no session bus"));
        if (chain.otherwise && chain.context)
            chain.otherwise();
        return;
    }
    if (key != chain.key) {
        chain.key = key;
        chain.id = 0;
        chain.waiting = false;
        chain.queued.reset();
    }
    if (chain.waiting)
        chain.queued = body;
    else
        post(chain, body);
}

Chain s_calls{QStringLiteral("Incoming call")};
Chain s_missed{QStringLiteral("Missed calls")};

#endif // QUILLORA_HAVE_DBUS

} // namespace

QString body(const QString& number, const QString& name)
{
    QString text = bounded(number, MaxNumberLength).toHtmlEscaped();
    if (!name.isEmpty())
        text += QLatin1Char('\n') + bounded(name, MaxNameLength).toHtmlEscaped();
    return text;
}

void call(const QString& key, const QString& number, const QString& name)
{
    if (!wanted())
        return;
#ifdef QUILLORA_HAVE_DBUS
    send(s_calls, key, body(number, name));
#else
    Q_UNUSED(key)
    Q_UNUSED(number)
    Q_UNUSED(name)
#endif
}

void missedCalls(const QString& text, QObject* context, const std::function<void()>& otherwise)
{
#ifdef QUILLORA_HAVE_DBUS
    if (wanted()) {
        s_missed.context = context;
        s_missed.otherwise = otherwise;
        // Each summary is about the same thing: the calls missed in the last loss.
        send(s_missed, QStringLiteral("missed"), bounded(text, MaxNameLength).toHtmlEscaped());
        return;
    }
#else
    Q_UNUSED(text)
#endif
    if (context)
        otherwise();
}

} // namespace desktopnotifier
