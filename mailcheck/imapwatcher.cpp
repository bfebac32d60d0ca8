#include "imapwatcher.h"

#include "clock.h"

#include <QRandomGenerator>

#include <algorithm>

ImapWatcher::ImapWatcher(Clock& clock, QObject* parent) : QObject(parent), m_clock(clock)
{
    for (QTimer* timer : {&m_settle, &m_renew, &m_silence, &m_probe, &m_retry, &m_healthy})
        timer->setSingleShot(true);
    m_backoffMs = m_timings.firstRetryMs;

    connect(&m_conversation, &ImapConversation::counted, this, &ImapWatcher::onCounted);
    connect(&m_conversation, &ImapConversation::ended, this, &ImapWatcher::onEnded);
    connect(&m_conversation, &ImapConversation::dialogue, this, &ImapWatcher::dialogue);
    connect(&m_conversation, &ImapConversation::idling, this, [this] {
        m_renew.start(m_timings.renewMs);
        m_silence.start(m_timings.silenceMs);
        emit idlingChanged(true);
    });
    connect(&m_conversation, &ImapConversation::idleRefused, this, [this] {
        // Polled by the scheduler from now on, one connection a check.
        m_pollOnly = true;
        m_conversation.close();
    });
    connect(&m_conversation, &ImapConversation::idleEnded, this, [this] {
        emit idlingChanged(false);
        if (!m_recounting)
            idleAgain();
    });
    connect(&m_conversation, &ImapConversation::mailboxChanged, this, [this] {
        // Mail comes in bursts: one count for the lot.
        if (!m_settle.isActive())
            m_settle.start(m_timings.settleMs);
    });
    connect(&m_conversation, &ImapConversation::heard, this, [this] {
        m_probe.stop();
        if (m_conversation.isIdling())
            m_silence.start(m_timings.silenceMs);
    });

    connect(&m_settle, &QTimer::timeout, this, [this] {
        m_recounting = true;
        m_conversation.countAgain(m_mark);
    });
    connect(&m_renew, &QTimer::timeout, &m_conversation, &ImapConversation::stopIdle);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        // Five minutes without a byte: is anybody there?
        m_conversation.stopIdle();
        m_probe.start(m_timings.probeMs);
    });
    connect(&m_probe, &QTimer::timeout, this, [this] {
        drop(tr("The server did not answer for %1 minutes.").arg(m_timings.silenceMs / 60000.0));
    });
    connect(&m_retry, &QTimer::timeout, this, &ImapWatcher::connectNow);
    // A minute of health and the next failure starts the pauses afresh.
    connect(&m_healthy, &QTimer::timeout, this, [this] { m_backoffMs = m_timings.firstRetryMs; });
}

void ImapWatcher::start(const ImapSession::Options& options)
{
    m_options = options;
    m_running = true;
    m_pollOnly = false;
    m_backoffMs = m_timings.firstRetryMs;
    connectNow();
}

void ImapWatcher::stop()
{
    m_running = false;
    stopTimers();
    m_conversation.close();
}

void ImapWatcher::stopTimers()
{
    for (QTimer* timer : {&m_settle, &m_renew, &m_silence, &m_probe, &m_retry, &m_healthy})
        timer->stop();
}

void ImapWatcher::connectNow()
{
    stopTimers();
    m_recounting = false;
    m_counted = false;
    MailConnection& connection = m_conversation.connection();
    // The count has the deadlines of any check; idling has timers of its own.
    connection.setStallTimeout(MailConnection::DefaultStallTimeoutMs);
    connection.setDeadline(MailConnection::DefaultDeadlineMs);
    connection.setKeepAlive(true);
    ImapSession::Options options = m_options;
    options.uidMark = m_mark;
    m_conversation.open(options);
    m_wallBefore = m_clock.now();
    m_monotonic.start();
}

void ImapWatcher::countNow()
{
    if (!m_running)
        return;
    if (m_conversation.isOpen() && m_counted) {
        m_settle.stop();
        m_recounting = true;
        m_conversation.countAgain(m_mark);
        return;
    }
    if (!m_conversation.isOpen()) {
        m_backoffMs = m_timings.firstRetryMs;
        connectNow();
    }
}

void ImapWatcher::onCounted(const ImapCount& count)
{
    m_recounting = false;
    m_counted = true;
    CheckOutcome outcome;
    outcome.end = CheckOutcome::End::Counted;
    outcome.count = int(std::min<quint32>(count.unseen, quint32(std::numeric_limits<int>::max())));
    outcome.greeted = m_conversation.greeted();
    outcome.greeting = m_conversation.greeting();
    outcome.transport = m_conversation.transport();

    // A new UIDVALIDITY makes every UID a new one: the mark starts again, quietly.
    const bool renumbered = m_markKnown && count.uidValidity != m_uidValidity;
    if (renumbered)
        m_mark = 0;
    // Counted by the session above the mark it was given: m_mark before any renumbering.
    const QList<quint32>& newest = count.newestUids;
    // The first count of the run notifies when mail waits, as for POP3.
    outcome.arrived = m_markKnown ? !renumbered && count.newCount > 0 : count.unseen > 0;
    outcome.arrivals = int(std::min<quint32>(m_markKnown && !renumbered ? count.newCount : count.unseen,
                                             quint32(std::numeric_limits<int>::max())));
    for (auto it = newest.crbegin(); it != newest.crend(); ++it) {
        if (count.headers.contains(*it))
            outcome.arrivedHeaders.append(count.headers.value(*it));
    }
    m_uidValidity = count.uidValidity;
    m_markKnown = true;
    m_mark = std::max({m_mark, count.highestUnseenUid, count.uidNext > 0 ? count.uidNext - 1 : 0u,
                       newest.isEmpty() ? 0u : newest.last()});

    if (!m_healthy.isActive())
        m_healthy.start(m_timings.healthyMs);
    if (m_held) {
        // Keep every arrival of the wait; the count is the latest.
        if (m_heldOutcome && m_heldOutcome->arrived.value_or(false)) {
            outcome.arrived = true;
            outcome.arrivals += m_heldOutcome->arrivals;
            outcome.arrivedHeaders += m_heldOutcome->arrivedHeaders;
        }
        m_heldOutcome = outcome;
    } else {
        emit counted(outcome);
    }
    if (!m_running || !m_conversation.isOpen())
        return;
    if (m_pollOnly || !m_conversation.idleOffered()) {
        m_conversation.close();
        return;
    }
    idleAgain();
}

void ImapWatcher::idleAgain()
{
    MailConnection& connection = m_conversation.connection();
    connection.setStallTimeout(0);
    connection.setDeadline(0);
    m_conversation.startIdle();
}

void ImapWatcher::hold(bool held)
{
    m_held = held;
    if (held || !m_heldOutcome)
        return;
    const CheckOutcome outcome = *m_heldOutcome;
    m_heldOutcome.reset();
    emit counted(outcome);
}

void ImapWatcher::onEnded(const CheckOutcome& outcome)
{
    stopTimers();
    emit idlingChanged(false);
    const bool retry = m_running && outcome.end != CheckOutcome::End::CannotLogon &&
                       outcome.end != CheckOutcome::End::UntrustedCertificate &&
                       outcome.end != CheckOutcome::End::TokenRefused;
    if (retry)
        retryLater();
    else
        m_running = false;
    emit failed(outcome, retry);
}

void ImapWatcher::drop(const QString& reason)
{
    m_conversation.close();
    CheckOutcome outcome;
    outcome.end = CheckOutcome::End::SocketError;
    outcome.description = reason;
    onEnded(outcome);
}

void ImapWatcher::retryLater()
{
    // 5 s, doubling to 5 minutes, each give or take a fifth, so that many
    // clients dropped at once do not all come back in the same second.
    const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
    m_retry.start(int(m_backoffMs * jitter));
    m_backoffMs = std::min(m_backoffMs * 2, m_timings.longestRetryMs);
}

void ImapWatcher::networkBack()
{
    if (m_running && m_retry.isActive()) {
        m_retry.stop();
        connectNow();
    }
}

void ImapWatcher::checkClock()
{
    if (!m_running || !m_monotonic.isValid())
        return;
    const QDateTime wallNow = m_clock.now();
    const qint64 wall = m_wallBefore.msecsTo(wallNow);
    const qint64 monotonic = m_monotonic.restart();
    m_wallBefore = wallNow;
    if (wall - monotonic <= m_timings.resumeJumpMs)
        return;
    // Back from sleep: whatever the connection was, it is not to be trusted.
    m_conversation.close();
    m_backoffMs = m_timings.firstRetryMs;
    connectNow();
}
