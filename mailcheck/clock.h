#pragma once

#include <QDateTime>

// Where "now" comes from, so the scheduler's minute arithmetic can be tested
// without waiting for real minutes to pass.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
