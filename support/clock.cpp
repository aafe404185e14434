#include "support/clock.h"

#include "support/text.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

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

void App_SetStopping(bool stopping) { g_stopping = stopping; }
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
    realWait(slice);
    const std::int64_t waited = realMs() - before;
    // Woken by the deadline rather than by an event: nothing is coming, skip to the end.
    if (waited >= slice)
        offsetMs_ += maxMs - waited;
}

void TestClock::pause(std::int64_t ms)
{
    if (ms > 0)
        offsetMs_ += ms;
}

} // namespace tollan
