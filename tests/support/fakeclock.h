#pragma once

#include "clock.h"

// A clock the test sets by hand.
class FakeClock : public Clock
{
public:
    explicit FakeClock(const QDateTime& start = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0)))
        : current(start)
    {
    }
    QDateTime now() const override { return current; }
    void advanceSeconds(qint64 seconds) { current = current.addSecs(seconds); }

    QDateTime current;
};
