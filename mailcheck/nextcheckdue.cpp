#include "nextcheckdue.h"

#include <QTimeZone>

bool NextCheckDue::mayHaveCome(const QDateTime& lastCheck, int interval, qint64 nowMs) const
{
    // Date and time of a local moment are what it holds; comparing the
    // moments themselves would convert both through the time zone.
    return nowMs >= m_atMs || interval != m_interval || lastCheck.time() != m_lastTime ||
           lastCheck.date() != m_lastDate;
}

void NextCheckDue::workOut(const QDateTime& lastCheck, int interval, const QDateTime& localNow)
{
    m_lastDate = lastCheck.date();
    m_lastTime = lastCheck.time();
    m_interval = interval;
    const qint64 minute =
        m_lastDate.toJulianDay() * 24 * 60 + m_lastTime.hour() * 60 + m_lastTime.minute() + interval;
    const QDateTime due(QDate::fromJulianDay(minute / (24 * 60)),
                        QTime(int(minute % (24 * 60) / 60), int(minute % 60)), lastCheck.timeSpec());
    m_atMs = due.isValid() ? due.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    // Across a change of offset the wall clock jumps: look again right then.
    const QTimeZone::OffsetData change = QTimeZone::systemTimeZone().nextTransition(localNow);
    if (change.atUtc.isValid())
        m_atMs = qMin(m_atMs, change.atUtc.toMSecsSinceEpoch());
}
