#pragma once

#include "checkoutcome.h"
#include "imapconversation.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <optional>

class Clock;

// Watches an IMAP folder on one open connection: after each count it idles,
// and when the server tells of a change it waits a moment for the burst and
// counts again. IDLE is renewed every nine minutes; a connection that stays
// silent for five minutes is asked whether it still lives, and one that does
// not answer, drops or fails is reconnected quietly with a growing pause.
// A server without IDLE is counted once per connection and polled by the
// scheduler instead. Nothing here shows anything: the scheduler does.
class ImapWatcher : public QObject
{
    Q_OBJECT

public:
    struct Timings
    {
        int settleMs = 300;
        int renewMs = 9 * 60 * 1000;
        int silenceMs = 5 * 60 * 1000;
        int probeMs = 15000;
        int firstRetryMs = 5000;
        int longestRetryMs = 5 * 60 * 1000;
        int healthyMs = 60 * 1000;
        // A wall clock that moved this much further than the monotonic one: the computer slept.
        int resumeJumpMs = 60 * 1000;
    };

    ImapWatcher(Clock& clock, QObject* parent = nullptr);

    ImapConversation& conversation() { return m_conversation; }
    void setTimings(const Timings& timings) { m_timings = timings; }

    // Connects now with these options and keeps watching until stop().
    void start(const ImapSession::Options& options);
    void stop();
    // Refresh: counts at once, reconnecting first where need be.
    void countNow();
    // While held (the Account dialog is open) counts are kept, not told; the
    // last of them is told on release, with every arrival meanwhile.
    void hold(bool held);

    // Connected, connecting or waiting to reconnect: the scheduler leaves it be.
    bool isWatching() const { return m_running && (m_conversation.isOpen() || m_retry.isActive()); }
    bool isIdling() const { return m_conversation.isIdling(); }
    // The options of the connection being watched.
    const ImapSession::Options& options() const { return m_options; }

    // Called at every tick of the scheduler: a jump of the wall clock past
    // the monotonic one means the computer slept, and the connection is gone.
    void checkClock();
    // The network came back: a connection waiting to be retried is tried now.
    void networkBack();

signals:
    // A count of the folder, with what arrived since the last one.
    void counted(const CheckOutcome& outcome);
    // The connection failed or dropped; willRetry: it is tried again by itself.
    void failed(const CheckOutcome& outcome, bool willRetry);
    // Idling began or ended: the next check waits for the server's notice.
    void idlingChanged(bool idling);
    void dialogue(const QString& line);

private:
    void connectNow();
    void onCounted(const ImapCount& count);
    void onEnded(const CheckOutcome& outcome);
    void retryLater();
    void drop(const QString& reason);
    void idleAgain();
    void stopTimers();

    Clock& m_clock;
    ImapConversation m_conversation;
    Timings m_timings;
    ImapSession::Options m_options;
    bool m_running = false;
    bool m_pollOnly = false;
    bool m_recounting = false;
    bool m_counted = false; // a count on this connection
    QTimer m_settle;
    QTimer m_renew;
    QTimer m_silence;
    QTimer m_probe;
    QTimer m_retry;
    QTimer m_healthy;
    int m_backoffMs = 0;

    // The highest UID this run has seen, under the folder's UIDVALIDITY.
    quint32 m_mark = 0;
    quint32 m_uidValidity = 0;
    bool m_markKnown = false;

    bool m_held = false;
    std::optional<CheckOutcome> m_heldOutcome;

    QDateTime m_wallBefore;
    QElapsedTimer m_monotonic;
};
