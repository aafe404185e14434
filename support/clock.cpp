#include "support/clock.h"

#include "support/text.h"
#include "support/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <thread>

namespace tollan {
namespace {

Clock* g_clock = nullptr;
bool g_stopping = false;

std::int64_t steadyMs()
{
    static QElapsedTimer timer = [] { QElapsedTimer t; t.start(); return t; }();
    return timer.elapsed();
}

// Processes events, blocking until one arrives or `ms` have passed. A single-shot timer wakes the
// loop at the deadline; processEvents(WaitForMoreEvents) sleeps in the event dispatcher meanwhile.
void realWait(std::int64_t ms)
{
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
        return;
    }
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(int(std::min<std::int64_t>(ms, 24 * 3600 * 1000)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

Clock& Clock_Current()
{
    static RealClock real;
    return g_clock ? *g_clock : real;
}

void Clock_Set(Clock* clock) { g_clock = clock; }

DateTime Clock_NowDateTime()
{
    const QDateTime now = Clock_Now();
    const QDate d = now.date();
    const QTime t = now.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

void Events_Pump()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void App_SetStopping(bool stopping)
{
    g_stopping = stopping;
    if (stopping)
        Wait_Notify();   // every wait under way ends now
}
bool App_Stopping() { return g_stopping; }

bool Clock_TenSecondsDue(const QDateTime& now, std::int64_t& last)
{
    const std::int64_t step = now.toSecsSinceEpoch() / 10 - (now.toSecsSinceEpoch() % 10 < 0 ? 1 : 0);
    const bool due = last == kNoTenSeconds ? now.time().second() % 10 == 0 : step != last;
    last = step;
    return due;
}

bool Clock_WaitUntil(const std::function<bool()>& done, std::int64_t timeoutMs)
{
    Clock& c = Clock_Current();
    const std::int64_t deadline = c.ms() + timeoutMs;
    while (!done()) {
        if (g_stopping)
            return done();
        if (timeoutMs < 0) {
            c.waitEvents(1000);
            continue;
        }
        const std::int64_t left = deadline - c.ms();
        if (left <= 0)
            return done();
        c.waitEvents(left);
    }
    return true;
}

namespace {
std::map<int, QTimer*>& RealTimers()
{
    static std::map<int, QTimer*> timers;
    return timers;
}
} // namespace

int RealClock::startTimer(std::int64_t ms, std::function<void()> fire)
{
    static int next = 1;
    const int id = next++;
    auto* t = new QTimer(QCoreApplication::instance());
    t->setSingleShot(true);
    t->setTimerType(Qt::PreciseTimer);
    QObject::connect(t, &QTimer::timeout, t, [id, fire = std::move(fire)] {
        if (auto it = RealTimers().find(id); it != RealTimers().end()) {
            it->second->deleteLater();
            RealTimers().erase(it);
        }
        fire();
    });
    RealTimers()[id] = t;
    t->start(int(std::clamp<std::int64_t>(ms, 0, 24 * 3600 * 1000)));
    return id;
}

void RealClock::stopTimer(int id)
{
    if (auto it = RealTimers().find(id); it != RealTimers().end()) {
        it->second->stop();
        it->second->deleteLater();
        RealTimers().erase(it);
    }
}

QDateTime RealClock::now() const { return QDateTime::currentDateTime(); }
std::int64_t RealClock::ms() const { return steadyMs(); }
void RealClock::waitEvents(std::int64_t maxMs) { realWait(maxMs); }
void RealClock::pause(std::int64_t ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TestClock::TestClock(QDateTime start, std::int64_t idleSliceMs)
    : start_(std::move(start)), startReal_(steadyMs()), idleSliceMs_(idleSliceMs)
{
}

TestClock::~TestClock() { delete idle_; }

void TestClock::advance(std::int64_t ms)
{
    offsetMs_ += ms;
    fireDue();
}

int TestClock::startTimer(std::int64_t ms, std::function<void()> fire)
{
    const int id = nextTimer_++;
    timers_[id] = {this->ms() + std::max<std::int64_t>(ms, 0), std::move(fire)};
    armIdle();
    return id;
}

void TestClock::stopTimer(int id) { timers_.erase(id); }

void TestClock::activity()
{
    ++happenings_;
    if (idle_ && idle_->isActive())
        idle_->start();   // nothing has been idle yet
}

bool TestClock::fireDue()
{
    bool fired = false;
    for (;;) {
        auto due = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.at <= ms() && (due == timers_.end() || it->second.at < due->second.at))
                due = it;
        if (due == timers_.end())
            return fired;
        std::function<void()> fire = std::move(due->second.fire);
        timers_.erase(due);
        ++happenings_;
        fire();
        fired = true;
    }
}

// The program's timers wait on this clock: when nothing happens for a slice of real time, the
// clock jumps to the earliest of them.
void TestClock::armIdle()
{
    if (!QCoreApplication::instance())
        return;
    if (!idle_) {
        idle_ = new QTimer;
        idle_->setSingleShot(true);
        QObject::connect(idle_, &QTimer::timeout, [this] {
            if (fireDue() || timers_.empty()) {
                if (!timers_.empty())
                    armIdle();
                return;
            }
            std::int64_t earliest = INT64_MAX;
            for (const auto& [id, t] : timers_)
                earliest = std::min(earliest, t.at);
            offsetMs_ += std::max<std::int64_t>(0, earliest - ms());
            fireDue();
            if (!timers_.empty())
                armIdle();
        });
    }
    idle_->start(int(idleSliceMs_));
}

std::int64_t TestClock::realMs() const { return steadyMs() - startReal_; }
std::int64_t TestClock::ms() const { return realMs() + offsetMs_; }
QDateTime TestClock::now() const { return start_.addMSecs(ms()); }

void TestClock::setNow(const QDateTime& t)
{
    start_ = t;
    startReal_ = steadyMs();
    offsetMs_ = 0;
}

void TestClock::waitEvents(std::int64_t maxMs)
{
    if (maxMs <= 0) {
        realWait(0);
        return;
    }
    const std::int64_t slice = std::min(maxMs, idleSliceMs_);
    const std::int64_t before = realMs();
    const std::uint64_t seen = happenings_;
    realWait(slice);
    const std::int64_t waited = realMs() - before;
    // Woken by the deadline rather than by an event: nothing is coming, skip to the end, or to the
    // program's earliest timer before it. A slice in which a timer fired (the idle jump's among
    // them) or the program did anything is no idle one: what the caller waits for may have come.
    if (waited >= slice && happenings_ == seen) {
        std::int64_t jump = maxMs - waited;
        for (const auto& [id, t] : timers_)
            jump = std::min(jump, std::max<std::int64_t>(0, t.at - ms()));
        offsetMs_ += jump;
    }
    fireDue();
}

void TestClock::pause(std::int64_t ms)
{
    if (ms > 0)
        offsetMs_ += ms;
    fireDue();
}

} // namespace tollan
