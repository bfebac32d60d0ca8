#pragma once

#include <QDateTime>

// Where "now" comes from, so the scheduler's minute arithmetic can be tested
// without waiting for real minutes to pass.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // The same moment in milliseconds since 1970 UTC. The system's clock
    // tells it without the time zone, which now() reads each time it is asked.
    virtual qint64 msecsSinceEpoch() const { return now().toMSecsSinceEpoch(); }
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 msecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }
};

// Another clock's moments in UTC, for those who only measure the time between
// them: no time zone is read for it.
class UtcClock : public Clock
{
public:
    explicit UtcClock(const Clock& clock) : m_clock(clock) {}
    QDateTime now() const override
    {
        return QDateTime::fromMSecsSinceEpoch(m_clock.msecsSinceEpoch(), Qt::UTC);
    }
    qint64 msecsSinceEpoch() const override { return m_clock.msecsSinceEpoch(); }

private:
    const Clock& m_clock;
};
