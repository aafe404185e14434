#include "support/wait.h"

#include "support/clock.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <vector>

namespace tollan {

struct WaitRegistry {
    std::vector<Waiter*> waiting;
    bool lookPosted = false;

    static WaitRegistry& get()
    {
        static WaitRegistry r;
        return r;
    }
    void remove(Waiter* w) { waiting.erase(std::remove(waiting.begin(), waiting.end(), w), waiting.end()); }
    // Every wait whose condition holds, or whose program stops, goes on.
    void look()
    {
        lookPosted = false;
        std::vector<Waiter*> ready;
        for (Waiter* w : waiting)
            if (App_Stopping() || w->done_())
                ready.push_back(w);
        for (Waiter* w : ready)
            if (std::find(waiting.begin(), waiting.end(), w) != waiting.end())
                w->resume();
    }
};

Waiter::~Waiter()
{
    if (waiting_) {
        WaitRegistry::get().remove(this);
        if (timer_)
            Clock_Current().stopTimer(timer_);
    }
}

bool Waiter::await_ready() { return App_Stopping() || done_() || timeoutMs_ == 0; }

void Waiter::await_suspend(std::coroutine_handle<> h)
{
    handle_ = h;
    waiting_ = true;
    WaitRegistry::get().waiting.push_back(this);
    if (timeoutMs_ > 0)
        timer_ = Clock_Current().startTimer(timeoutMs_, [this] {
            timer_ = 0;
            resume();
        });
}

bool Waiter::await_resume() { return done_(); }

void Waiter::resume()
{
    if (!waiting_)
        return;
    waiting_ = false;
    WaitRegistry::get().remove(this);
    if (timer_) {
        Clock_Current().stopTimer(timer_);
        timer_ = 0;
    }
    handle_.resume();
}

void Waiter::notifyAll()
{
    Clock_Current().activity();
    WaitRegistry& r = WaitRegistry::get();
    if (r.lookPosted || r.waiting.empty())
        return;
    if (!QCoreApplication::instance()) {
        r.look();
        return;
    }
    r.lookPosted = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { WaitRegistry::get().look(); }, Qt::QueuedConnection);
}

int Wait_Pending() { return int(WaitRegistry::get().waiting.size()); }

} // namespace tollan
