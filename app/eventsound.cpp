#include "eventsound.h"

#include <QDeadlineTimer>
#include <QLibrary>
#include <QMutex>
#include <QThread>

// The header only for libcanberra's types and property names: its functions
// come from QLibrary, so the program neither links nor loads it up front.
#include <canberra.h>

// libcanberra's context and the library it came from; used on the sound
// thread only.
class CanberraPlayer
{
public:
    ~CanberraPlayer()
    {
        if (m_context)
            m_destroy(m_context);
    }

    bool play()
    {
        if (!m_context && !open())
            return false;
        // A context that could not reach a sound server tries again here,
        // so a server started later is found.
        return m_play(m_context, 0, CA_PROP_EVENT_ID, "message-new-email", CA_PROP_EVENT_DESCRIPTION,
                      "New mail", CA_PROP_APPLICATION_NAME, "PostOwl", nullptr) == CA_SUCCESS;
    }

private:
    using Create = int (*)(ca_context**);
    using Play = int (*)(ca_context*, uint32_t, ...);
    using Destroy = int (*)(ca_context*);

    // Once a run: without the library (or a context) this run has no sound.
    bool open()
    {
        if (m_tried)
            return false;
        m_tried = true;
        m_library.setFileNameAndVersion(QStringLiteral("canberra"), 0);
        const auto create = reinterpret_cast<Create>(m_library.resolve("ca_context_create"));
        m_play = reinterpret_cast<Play>(m_library.resolve("ca_context_play"));
        m_destroy = reinterpret_cast<Destroy>(m_library.resolve("ca_context_destroy"));
        if (!create || !m_play || !m_destroy || create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            return false;
        }
        return true;
    }

    QLibrary m_library;
    ca_context* m_context = nullptr;
    Play m_play = nullptr;
    Destroy m_destroy = nullptr;
    bool m_tried = false;
};

// The sound thread may outlive its EventSound (see the destructor): it
// answers only while there is somebody to answer.
struct EventSoundOwner
{
    QMutex mutex;
    EventSound* sound = nullptr;
};

EventSound::EventSound(QObject* parent) : QObject(parent), m_owner(std::make_shared<EventSoundOwner>())
{
    m_owner->sound = this;
}

EventSound::~EventSound()
{
    if (!m_thread)
        return;
    {
        const QMutexLocker lock(&m_owner->mutex);
        m_owner->sound = nullptr;
    }
    m_thread->quit();
    // A sound server that hangs must not hang the end of the run: the thread
    // and what it holds are left to the process's end then.
    if (!m_thread->wait(QDeadlineTimer(2000))) {
        (void)m_player.release();
        return;
    }
    delete m_worker;
    delete m_thread;
}

bool EventSound::play()
{
    if (m_busy)
        return false;
    if (!m_thread) {
        m_player = std::make_unique<CanberraPlayer>();
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("event sound"));
        m_worker = new QObject;
        m_worker->moveToThread(m_thread);
        m_thread->start();
    }
    m_busy = true;
    QMetaObject::invokeMethod(
        m_worker,
        [player = m_player.get(), owner = m_owner] {
            const bool played = player->play();
            const QMutexLocker lock(&owner->mutex);
            if (!owner->sound)
                return;
            // Answered on the EventSound's own thread; dropped with it.
            QMetaObject::invokeMethod(
                owner->sound,
                [sound = owner->sound, played] {
                    sound->m_busy = false;
                    emit sound->finished(played);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}
