#pragma once
// The one clock of the program. Every "now", every deadline and every wait goes through it, so that
// tests replace it and a 120-second time-out takes milliseconds.

#include <QDateTime>

#include <cstdint>
#include <functional>
#include <map>

class QTimer;

namespace tollan {

class Clock {
public:
    virtual ~Clock() = default;
    // Local date and time.
    virtual QDateTime now() const = 0;
    // Milliseconds on a steady scale, for deadlines.
    virtual std::int64_t ms() const = 0;
    // Let events run, sleeping until one arrives or `maxMs` pass (never spinning): the waits outside
    // the program's requests (start-up, tests).
    virtual void waitEvents(std::int64_t maxMs) = 0;
    // Hold the thread for `ms` without letting events run.
    virtual void pause(std::int64_t ms) = 0;
    // Calls `fire` from the event loop once `ms` have passed on this clock; the id stops it.
    virtual int startTimer(std::int64_t ms, std::function<void()> fire) = 0;
    virtual void stopTimer(int id) = 0;
    // Something the program waits for may have happened (a test clock waits before it jumps).
    virtual void activity() {}
};

// The clock in force; the real one unless a test has put another in place.
Clock& Clock_Current();
// Puts `clock` in force (nullptr restores the real clock). The caller keeps ownership.
void Clock_Set(Clock* clock);

inline QDateTime Clock_Now() { return Clock_Current().now(); }
// The clock's "now" as the text functions take it.
struct DateTime;
DateTime Clock_NowDateTime();
inline std::int64_t Clock_Ms() { return Clock_Current().ms(); }
inline void Clock_Wait(std::int64_t maxMs) { Clock_Current().waitEvents(maxMs); }
inline void Clock_Pause(std::int64_t ms) { Clock_Current().pause(ms); }

// "DoEvents": let the pending events run once, without waiting.
void Events_Pump();

// The program is stopping (SIGTERM, the window closed): every wait ends at once and no new work
// starts, so what runs reaches a safe point within moments instead of after its time-outs.
void App_SetStopping(bool stopping);
bool App_Stopping();

// The periodic jobs of the one-second tick run "every ten seconds", at seconds 0, 10, 20, ...
// A tick can come a little late and step over such a second (a coarse timer drifts by up to 5 %),
// so a job runs when the ten-second step of `now` is not the one of the previous tick. `last`
// holds that step between calls; before the first call it is kNoTenSeconds, and the first call
// runs the job only on a second divisible by ten.
inline constexpr std::int64_t kNoTenSeconds = INT64_MIN;
bool Clock_TenSecondsDue(const QDateTime& now, std::int64_t& last);

// Waits, letting events run, until `done` holds or `timeoutMs` have passed on the clock;
// a negative time-out waits for `done` alone. Returns `done()`. A program that is stopping waits
// for nothing: the wait ends at once.
bool Clock_WaitUntil(const std::function<bool()>& done, std::int64_t timeoutMs);

// The real clock: system time, QElapsedTimer, and an event-loop wait woken by a timer.
class RealClock final : public Clock {
public:
    QDateTime now() const override;
    std::int64_t ms() const override;
    void waitEvents(std::int64_t maxMs) override;
    void pause(std::int64_t ms) override;
    int startTimer(std::int64_t ms, std::function<void()> fire) override;
    void stopTimer(int id) override;
};

// A clock for tests. Time runs with the real clock, but whenever nothing happens for `idleSliceMs`
// of real time it jumps: to the earliest deadline a timer of the program waits for, or to the end
// of a test's own wait; pauses and `advance` jump at once. So the peers on loopback get real time
// to answer, and a silent peer times out quickly.
class TestClock final : public Clock {
public:
    explicit TestClock(QDateTime start = QDateTime::currentDateTime(), std::int64_t idleSliceMs = 100);
    ~TestClock() override;
    QDateTime now() const override;
    std::int64_t ms() const override;
    void waitEvents(std::int64_t maxMs) override;
    void pause(std::int64_t ms) override;
    int startTimer(std::int64_t ms, std::function<void()> fire) override;
    void stopTimer(int id) override;
    void activity() override;

    void advance(std::int64_t ms);
    void setNow(const QDateTime& t);
    void setIdleSlice(std::int64_t ms) { idleSliceMs_ = ms; }

private:
    std::int64_t realMs() const;
    // Fires every timer whose time has come; true when one did.
    bool fireDue();
    void armIdle();
    QDateTime start_;
    std::int64_t startReal_;
    std::int64_t offsetMs_ = 0;
    std::int64_t idleSliceMs_;
    struct Timer {
        std::int64_t at;
        std::function<void()> fire;
    };
    std::map<int, Timer> timers_;
    int nextTimer_ = 1;
    std::uint64_t happenings_ = 0;   // timers fired and activity seen: a wait that saw one jumps not
    QTimer* idle_ = nullptr;
};

// Puts a clock in force for the life of the guard (tests).
class ClockScope {
public:
    explicit ClockScope(Clock& c) { Clock_Set(&c); }
    ~ClockScope() { Clock_Set(nullptr); }
    ClockScope(const ClockScope&) = delete;
    ClockScope& operator=(const ClockScope&) = delete;
};

} // namespace tollan
