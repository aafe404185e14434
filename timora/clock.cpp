#include "timora/timora_clock.h"

namespace tollan {

namespace {

class SystemClock final : public TimoraClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

SystemClock systemClock;
TimoraClock* current = nullptr;

} // namespace

TimoraClock::~TimoraClock() = default;

TimoraClock& Timora_Clock() { return current ? *current : systemClock; }

void Timora_SetClock(TimoraClock* clock) { current = clock; }

} // namespace tollan
