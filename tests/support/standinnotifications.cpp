#include "standinnotifications.h"

#include <QDBusArgument>

namespace {

constexpr char Service[] = "org.freedesktop.Notifications";
constexpr char Path[] = "/org/freedesktop/Notifications";

QSize imageSize(const QVariantMap& hints)
{
    const QVariant hint = hints.value(QStringLiteral("image-data"));
    if (!hint.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument image = hint.value<QDBusArgument>();
    int width = 0;
    int height = 0;
    image.beginStructure();
    image >> width >> height;
    return {width, height};
}

} // namespace

StandInNotifications::StandInNotifications()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                          QStringLiteral("stand-in notifications")))
{
    m_registered =
        m_bus.isConnected() &&
        m_bus.registerObject(QLatin1String(Path), this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
        m_bus.registerService(QLatin1String(Service));
}

StandInNotifications::~StandInNotifications()
{
    m_bus.unregisterService(QLatin1String(Service));
    m_bus.unregisterObject(QLatin1String(Path));
    QDBusConnection::disconnectFromBus(m_bus.name());
}

uint StandInNotifications::Notify(const QString& appName, uint replacesId, const QString&,
                                  const QString& summary, const QString& body, const QStringList& actions,
                                  const QVariantMap& hints, int)
{
    calls.append({appName, replacesId, summary, body, actions, imageSize(hints)});
    return replacesId != 0 ? replacesId : ++m_lastId;
}
