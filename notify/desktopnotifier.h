#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#ifdef POSTOWL_FREEDESKTOP_NOTIFICATIONS
#include "notificationcapabilities.h"

#include <QDBusConnection>
#include <QList>

#include <memory>
#endif

// Shows the desktop's own notification for new mail. Where the freedesktop
// notification service is on the session bus it shows one notification that
// each new one replaces rather than stacks on, with a default action; where it
// is not (another desktop, no service answering), it asks the owner to fall
// back on whatever it has, e.g. a tray balloon. It never waits for the
// desktop: the call goes out asynchronously, and a service that did not answer
// once is not asked again in this run. The body is sent as plain text, escaped
// where the service announces that it reads markup in it (a "&" or "<" in a
// profile's name would otherwise be taken as markup); the summary is plain
// text to every service.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    static constexpr char Service[] = "org.freedesktop.Notifications";
    static constexpr char Path[] = "/org/freedesktop/Notifications";
    static constexpr char Interface[] = "org.freedesktop.Notifications";
    static constexpr char DefaultAction[] = "default";
    // How long an answer from the notification service may take.
    static constexpr int CallTimeoutMs = 10000;

    // On the user's session bus, joined at the first notification: a run
    // that never shows one never connects to it.
    explicit DesktopNotifier(QObject* parent = nullptr);
#ifdef POSTOWL_FREEDESKTOP_NOTIFICATIONS
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
#endif

    // Shows (or replaces) the notification and returns at once. The first one
    // goes out once the service has said what it can do. withSound asks the
    // service to play the new-mail sound of the desktop's sound theme, where
    // it says it plays sounds (see playsSound()).
    void show(const QString& summary, const QString& body, const QImage& icon, bool withSound = false);

    // Whether a notification shown now would play its sound: the service has
    // said it plays sounds. The first call asks it what it can do, so until
    // the answer is in this is false.
    bool playsSound();

    // The service's id of the notification on show, 0 before the first one
    // was shown.
    uint notificationId() const
    {
        return m_id;
    }

signals:
    // The user chose the notification itself (its default action).
    void activated();
    // No notification service shows this one: the owner may show it its own way.
    void unanswered(const QString& summary, const QString& body);
    // The service has taken a notification and given it this id.
    void shown(uint id);

#ifdef POSTOWL_FREEDESKTOP_NOTIFICATIONS
private slots:
    void ActionInvoked(uint id, const QString& actionKey);

private:
    struct Notification
    {
        QString summary;
        QString body;
        QImage icon;
        bool withSound = false;
    };
    void attach(const QDBusConnection& bus);
    void send(const Notification& notification);
    void sendWaiting();

    std::unique_ptr<QDBusConnection> m_bus;
    std::unique_ptr<NotificationCapabilities> m_capabilities;
    QList<Notification> m_waiting; // for the capabilities
#endif

private:
    uint m_id = 0;
    bool m_serviceMissing = false;
};
