#include "standinnotifications.h"

#include <QDBusArgument>

namespace {

constexpr char Service[] = "org.freedesktop.Notifications";
constexpr char Path[] = "/org/freedesktop/Notifications";

} // namespace

StandInNotifications::StandInNotifications()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                          QStringLiteral("stand-in notifications")))
{
    m_registered =
        m_bus.registerObject(QLatin1String(Path), this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
        m_bus.registerService(QLatin1String(Service));
}

StandInNotifications::~StandInNotifications()
{
    m_bus.unregisterService(QLatin1String(Service));
    QDBusConnection::disconnectFromBus(m_bus.name());
}

uint StandInNotifications::Notify(const QString& appName, uint replacesId, const QString&,
                                  const QString& summary, const QString& body, const QStringList& actions,
                                  const QVariantMap& hints, int)
{
    QSize imageSize;
    const QVariant image = hints.value(QStringLiteral("image-data"));
    if (image.canConvert<QDBusArgument>()) {
        const QDBusArgument structure = image.value<QDBusArgument>();
        structure.beginStructure();
        structure >> imageSize.rwidth() >> imageSize.rheight();
    }
    calls.append({appName, replacesId, summary, body, actions, imageSize, hints});
    return replacesId != 0 ? replacesId : uint(calls.size());
}
