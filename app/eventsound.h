#pragma once

#include <QObject>

#include <memory>

class CanberraPlayer;
class QThread;
struct EventSoundOwner;

// The sound theme's "new mail" event, played by the desktop's sound server
// through libcanberra. The library is looked for at the first play(), not
// before: a run that never plays a sound never loads it. It plays on a
// thread of its own, so a sound server slow to answer never holds up the
// window; one libcanberra context serves the whole run.
class EventSound : public QObject
{
    Q_OBJECT

public:
    explicit EventSound(QObject* parent = nullptr);
    ~EventSound() override;

    // Asks for the sound; the answer comes as finished(). False, and nothing
    // asked, while the previous request is still unanswered.
    bool play();

signals:
    // played: the sound server took the sound. Not: no libcanberra, no sound
    // server, no such sound in the theme, or sounds turned off.
    void finished(bool played);

private:
    QThread* m_thread = nullptr; // started at the first play()
    QObject* m_worker = nullptr; // lives on m_thread: where the requests run
    std::unique_ptr<CanberraPlayer> m_player;
    std::shared_ptr<EventSoundOwner> m_owner; // whom the sound thread answers
    bool m_busy = false;
};
