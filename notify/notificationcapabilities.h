#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

// What the freedesktop notification service says it can do (GetCapabilities:
// "body-markup", "actions", "sound", ...). Asked once, asynchronously, the
// first time anyone wants to know, and kept for the rest of the run: a service
// does not change its abilities while it runs.
class NotificationCapabilities : public QObject
{
    Q_OBJECT

public:
    explicit NotificationCapabilities(const QDBusConnection& bus, QObject* parent = nullptr);

    // Starts the one question; later calls do nothing. known() or failed()
    // follows, never within this call.
    void lookUp();

    bool isKnown() const { return m_state == State::Known; }
    bool hasFailed() const { return m_state == State::Failed; }
    // False as long as the answer is not in.
    bool has(const QString& capability) const { return m_capabilities.contains(capability); }

signals:
    void known();
    // The service did not answer the question.
    void failed();

private:
    enum class State { NotAsked, Asking, Known, Failed };

    QDBusConnection m_bus;
    State m_state = State::NotAsked;
    QStringList m_capabilities;
};
