#pragma once
// A request's work as a C++20 coroutine on the program's one thread: a Task<T> runs at once until
// its first co_await, resumes on the event loop when what it waits for arrives, and hands its
// result to whoever co_awaits it. No thread, no nested event loop: several tasks are in flight at
// once, each reading top to bottom. A task nobody awaits any more (Start) finishes on its own.
//
// Nothing here throws: a task that lets an exception escape ends the program, as an uncaught
// exception anywhere does.

#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace tollan {

template <class T>
class Task;

namespace detail {

// Tasks begun and not yet at their end, whoever holds them.
inline int& UnderWay()
{
    static int n = 0;
    return n;
}

struct PromiseBase {
    std::coroutine_handle<> continuation;
    bool detached = false;   // nobody holds the task: it frees itself at its end

    PromiseBase() noexcept { ++UnderWay(); }

    std::suspend_never initial_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { std::terminate(); }

    struct Final {
        bool await_ready() const noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept
        {
            --UnderWay();
            PromiseBase& p = h.promise();
            if (p.continuation)
                return p.continuation;
            if (p.detached)
                h.destroy();
            return std::noop_coroutine();
        }
        void await_resume() const noexcept {}
    };
    Final final_suspend() noexcept { return {}; }
};

template <class T>
struct Promise : PromiseBase {
    std::optional<T> value;
    std::function<void(T)> onDone;
    Task<T> get_return_object() noexcept;
    void return_value(T v)
    {
        if (onDone)
            onDone(std::move(v));
        else
            value = std::move(v);
    }
};

template <>
struct Promise<void> : PromiseBase {
    std::function<void()> onDone;
    Task<void> get_return_object() noexcept;
    void return_void()
    {
        if (onDone)
            onDone();
    }
};

} // namespace detail

template <class T = void>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle h) : h_(h) {}
    Task(Task&& o) noexcept : h_(std::exchange(o.h_, {})) {}
    Task& operator=(Task&& o) noexcept
    {
        if (this != &o) {
            release();
            h_ = std::exchange(o.h_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { release(); }

    bool done() const { return !h_ || h_.done(); }
    // The result of a finished task (tests, and whoever checked done()).
    decltype(auto) result() const
    {
        if constexpr (!std::is_void_v<T>)
            return *h_.promise().value;
    }

    // Lets the task run on by itself; `onDone` hears its result (at once when it has one already).
    template <class F>
    void then(F&& onDone) &&
    {
        if (!h_)
            return;
        if (h_.done()) {
            if constexpr (std::is_void_v<T>)
                onDone();
            else
                onDone(std::move(*h_.promise().value));
            return;
        }
        h_.promise().onDone = std::forward<F>(onDone);
        h_.promise().detached = true;
        h_ = {};
    }

    auto operator co_await() && noexcept
    {
        struct Awaiter {
            Handle h;
            bool await_ready() const noexcept { return !h || h.done(); }
            void await_suspend(std::coroutine_handle<> awaiting) noexcept { h.promise().continuation = awaiting; }
            T await_resume()
            {
                if constexpr (!std::is_void_v<T>)
                    return std::move(*h.promise().value);
            }
        };
        return Awaiter{h_};
    }

private:
    void release()
    {
        if (!h_)
            return;
        // A task still under way when its holder goes finishes by itself; a finished one is freed.
        if (h_.done())
            h_.destroy();
        else
            h_.promise().detached = true;
        h_ = {};
    }

    Handle h_;
};

namespace detail {
template <class T>
Task<T> Promise<T>::get_return_object() noexcept
{
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}
inline Task<void> Promise<void>::get_return_object() noexcept
{
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
} // namespace detail

// How many tasks are under way: a stopping program ends once none is.
inline int Task_UnderWay() { return detail::UnderWay(); }

// Starts `task` and lets it run on by itself.
template <class T>
void Task_Start(Task<T> task)
{
    std::move(task).then([](auto&&...) {});
}

} // namespace tollan
