#include "notificationcapabilities.h"

#include "desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

NotificationCapabilities::NotificationCapabilities(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus)
{
}

void NotificationCapabilities::lookUp()
{
    if (m_state != State::NotAsked)
        return;
    m_state = State::Asking;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(DesktopNotifier::Service), QLatin1String(DesktopNotifier::Path),
        QLatin1String(DesktopNotifier::Interface), QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, DesktopNotifier::CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError()) {
            m_state = State::Failed;
            emit failed();
            return;
        }
        m_capabilities = reply.value();
        m_state = State::Known;
        emit known();
    });
}
