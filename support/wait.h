#pragma once
// The waits of a request, as coroutine awaits on the program's one event loop: `co_await
// Wait_Until(done, ms)` suspends the request until `done` holds, `ms` pass on the program's clock,
// or the program stops; meanwhile every other request and every event goes on. Whatever changes
// what a wait looks at (a socket's bytes or state, a register's answer, a marker let go) calls
// Wait_Notify, and the waits look again from the event loop.

#include <coroutine>
#include <cstdint>
#include <functional>

namespace tollan {

class Waiter {
public:
    Waiter(std::function<bool()> done, std::int64_t timeoutMs) : done_(std::move(done)), timeoutMs_(timeoutMs) {}
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;
    ~Waiter();

    bool await_ready();
    void await_suspend(std::coroutine_handle<> h);
    // Whether `done` holds: false after a time-out or a stop.
    bool await_resume();

    // The waits look again (queued: never from inside the caller's own handler).
    static void notifyAll();

private:
    friend struct WaitRegistry;
    void resume();
    std::function<bool()> done_;
    std::int64_t timeoutMs_;
    std::coroutine_handle<> handle_;
    int timer_ = 0;
    bool waiting_ = false;
};

// Until `done` holds or `timeoutMs` pass (negative: no time-out); what it returns is `done()`. A
// stopping program waits for nothing: the wait ends at once.
inline Waiter Wait_Until(std::function<bool()> done, std::int64_t timeoutMs) { return Waiter(std::move(done), timeoutMs); }
// `ms` on the program's clock (a stop ends it early).
inline Waiter Wait_For(std::int64_t ms) { return Waiter([] { return false; }, ms); }
inline void Wait_Notify() { Waiter::notifyAll(); }
// How many waits are under way (tests: everything has settled).
int Wait_Pending();

} // namespace tollan
