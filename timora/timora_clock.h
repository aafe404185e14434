#pragma once
// Timora's own clock. The control reads "now" only through it, so a host or a test can put its own
// clock in force and a minute passes in no time at all.

#include "timora/timora_export.h"

#include <QDateTime>

namespace tollan {

class TIMORA_EXPORT TimoraClock {
public:
    virtual ~TimoraClock();
    // Local date and time.
    virtual QDateTime now() const = 0;
};

// The clock in force: the system clock unless another has been put in place.
TIMORA_EXPORT TimoraClock& Timora_Clock();
// Puts `clock` in force for every Timora of the process (nullptr restores the system clock).
// The caller keeps ownership.
TIMORA_EXPORT void Timora_SetClock(TimoraClock* clock);

// A clock that stands still until it is set or advanced.
class TIMORA_EXPORT TimoraTestClock final : public TimoraClock {
public:
    explicit TimoraTestClock(QDateTime start) : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    void setNow(const QDateTime& t) { now_ = t; }
    void advanceSeconds(qint64 s) { now_ = now_.addSecs(s); }

private:
    QDateTime now_;
};

// Puts a clock in force for the life of the guard.
class TimoraClockScope {
public:
    explicit TimoraClockScope(TimoraClock& c) { Timora_SetClock(&c); }
    ~TimoraClockScope() { Timora_SetClock(nullptr); }
    TimoraClockScope(const TimoraClockScope&) = delete;
    TimoraClockScope& operator=(const TimoraClockScope&) = delete;
};

} // namespace tollan
