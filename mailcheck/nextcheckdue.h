#pragma once

#include <QDateTime>

#include <limits>

// When the next check falls due, as a moment in milliseconds since 1970 UTC,
// so that the five-second tick compares two numbers and leaves the local
// time alone until then: asking for it reads the time zone every time.
class NextCheckDue
{
public:
    // False while the worked-out moment is still ahead, for the same last
    // check and interval; true when the tick has to look at the local time.
    bool mayHaveCome(const QDateTime& lastCheck, int interval, qint64 nowMs) const;
    // Nothing is due at localNow: the moment is the one at which the wall
    // clock reaches the last check's minute plus interval minutes, or the
    // local time's next change of offset (summer time) if that comes first.
    void workOut(const QDateTime& lastCheck, int interval, const QDateTime& localNow);

private:
    QDate m_lastDate;
    QTime m_lastTime;
    int m_interval = 0;
    qint64 m_atMs = std::numeric_limits<qint64>::min();
};
