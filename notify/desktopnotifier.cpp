#include "desktopnotifier.h"

#include "programinfo.h"

#ifdef POSTOWL_FREEDESKTOP_NOTIFICATIONS
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace {

// The icon as the service's "image-data" hint: width, height, row stride, alpha,
// bits per sample, channels and the RGBA bytes. It travels with the
// notification, so no icon file has to be installed anywhere.
QVariant imageHint(const QImage& icon)
{
    const QImage image = icon.convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument hint;
    hint.beginStructure();
    hint << image.width() << image.height() << int(image.bytesPerLine()) << true << 8 << 4
         << QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
    hint.endStructure();
    return QVariant::fromValue(hint);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent)
{
    attach(bus);
}

void DesktopNotifier::attach(const QDBusConnection& bus)
{
    m_bus = std::make_unique<QDBusConnection>(bus);
    m_capabilities = std::make_unique<NotificationCapabilities>(bus);
    connect(m_capabilities.get(), &NotificationCapabilities::known, this, &DesktopNotifier::sendWaiting);
    // A service that cannot say what it can do is not there to show anything.
    connect(m_capabilities.get(), &NotificationCapabilities::failed, this, [this] {
        m_serviceMissing = true;
        sendWaiting();
    });
    // Every notification service sends its action signal to every listener;
    // only our own notification's counts (see ActionInvoked).
    if (m_bus->isConnected())
        m_bus->connect(QLatin1String(Service), QLatin1String(Path), QLatin1String(Interface),
                       QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
}

void DesktopNotifier::show(const QString& summary, const QString& body, const QImage& icon, bool withSound)
{
    if (!m_bus)
        attach(QDBusConnection::sessionBus());
    if (m_serviceMissing || !m_bus->isConnected()) {
        emit unanswered(summary, body);
        return;
    }
    if (!m_capabilities->isKnown()) {
        m_waiting.append({summary, body, icon, withSound});
        m_capabilities->lookUp();
        return;
    }
    send({summary, body, icon, withSound});
}

bool DesktopNotifier::playsSound()
{
    // Asked just before a notification goes out: the bus is wanted now anyway.
    if (!m_bus)
        attach(QDBusConnection::sessionBus());
    if (m_serviceMissing || !m_bus->isConnected())
        return false;
    m_capabilities->lookUp();
    return m_capabilities->has(QStringLiteral("sound"));
}

void DesktopNotifier::sendWaiting()
{
    for (const Notification& notification : std::exchange(m_waiting, {})) {
        if (m_serviceMissing)
            emit unanswered(notification.summary, notification.body);
        else
            send(notification);
    }
}

void DesktopNotifier::send(const Notification& notification)
{
    const QString& summary = notification.summary;
    const QString& body = notification.body;
    const QImage& icon = notification.icon;
    const QString shownBody =
        m_capabilities->has(QStringLiteral("body-markup")) ? body.toHtmlEscaped() : body;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                                       QLatin1String(Interface), QStringLiteral("Notify"));
    QVariantMap hints;
    if (!icon.isNull())
        hints.insert(QStringLiteral("image-data"), imageHint(icon));
    // The installed menu entry's id and the kind of event let the desktop
    // apply what the user set for this program and for new mail.
    hints.insert(QStringLiteral("desktop-entry"), ProgramInfo::componentId());
    hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    if (notification.withSound && m_capabilities->has(QStringLiteral("sound")))
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-email"));
    // Replacing the last one keeps a single notification however often mail comes.
    call << ProgramInfo::applicationTitle() << m_id << QString() /* app_icon */ << summary << shownBody
         << QStringList{QLatin1String(DefaultAction), QStringLiteral("Open")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            m_serviceMissing = true;
            emit unanswered(summary, body);
            return;
        }
        m_id = reply.value();
        emit shown(m_id);
    });
}

void DesktopNotifier::ActionInvoked(uint id, const QString& actionKey)
{
    if (id != 0 && id == m_id && actionKey == QLatin1String(DefaultAction))
        emit activated();
}

#else

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

// Without the freedesktop service the owner shows it its own way.
void DesktopNotifier::show(const QString& summary, const QString& body, const QImage&, bool)
{
    emit unanswered(summary, body);
}

bool DesktopNotifier::playsSound()
{
    return false;
}

#endif
