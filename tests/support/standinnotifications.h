#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <QVariantMap>

// A notification service of our own on the session bus: it owns the name
// org.freedesktop.Notifications on a connection of its own, records every
// Notify call and can play the user choosing a notification.
class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName;
        uint replacesId;
        QString summary;
        QString body;
        QStringList actions;
        QSize imageSize; // of the image-data hint; empty without one
        QVariantMap hints;
    };

    StandInNotifications();
    ~StandInNotifications() override;

    // False when the bus cannot be reached or the name is taken.
    bool registered() const { return m_registered; }
    // As if the user chose `actionKey` of notification `id`.
    void invoke(uint id, const QString& actionKey) { emit ActionInvoked(id, actionKey); }

    QList<Call> calls;
    // What GetCapabilities answers, and how often it was asked.
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};
    int capabilityQuestions = 0;

public slots:
    QStringList GetCapabilities()
    {
        ++capabilityQuestions;
        return capabilities;
    }
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);

signals:
    void ActionInvoked(uint id, const QString& actionKey);

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};
