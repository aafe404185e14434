#include "links/dialup.h"

#include "links/ras.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/text.h"
#include "support/wait.h"

#include <QCoreApplication>
#include <QDateTime>

namespace tollan {
namespace {

struct Use {
    int users = 0;
    bool up = false;
    // A connect's look and dial, or the idle hang-up, is under way: whoever connects meanwhile
    // waits for it.
    bool busy = false;
    QDateTime lastActivity;
};
Use& U()
{
    static Use u;
    return u;
}

bool enabled() { return Num_Value(Cfg_Get("UseRAS", "0")) != 0; }

// From the event loop, after the tick has marked the line down and busy.
Task<void> hangUpIdle()
{
    co_await Ras_Release();
    U().busy = false;
    Wait_Notify();
}

} // namespace

Task<void> DialUse_Acquire()
{
    if (!enabled())
        co_return;
    Use& u = U();
    // Whoever waited for another connect's dial takes its outcome, the line up or its failure
    // reported once; after a hang-up it looks and dials afresh. A stopping program dials nothing.
    bool waited = false;
    while (u.busy && !App_Stopping()) {
        waited = true;
        co_await Wait_Until([&u] { return !u.busy; }, -1);
    }
    if (App_Stopping() || (waited && u.up)) {
        ++u.users;
        DialUse_Touch();
        co_return;
    }
    u.busy = true;
    co_await DialUse_Check();
    ++u.users;
    // Marked up even when the dial failed: the next check finds no connection and puts it right.
    if (u.users == 1 && !u.up) {
        co_await Ras_Acquire();
        u.up = true;
    }
    u.busy = false;
    Wait_Notify();
    DialUse_Touch();
}

void DialUse_Release()
{
    if (!enabled())
        return;
    if (U().users > 0)
        --U().users;
}

void DialUse_Touch()
{
    // Every send and receive touches: a count of nobody needs no look at the setting (only a
    // connect with dial-up enabled counts anybody in).
    if (U().users == 0 || !enabled())
        return;
    U().lastActivity = Clock_Now();
}

Task<void> DialUse_Check()
{
    if (!enabled())
        co_return;
    Use& u = U();
    if (u.up && co_await Ras_FindConnection() == 0) {  // it has dropped
        u.users = 0;
        u.up = false;
        co_await Ras_Release();
    }
}

void DialUse_IdleCheck()
{
    // Every tick comes here: nothing that starts a program or reads the service's files. A line
    // that dropped is found by the next connect's check; an idle one is hung up by a task started
    // from the event loop, since hanging up runs a program (poff, nmcli) that may take seconds.
    // Meanwhile the line counts as busy: a connect waits for the hang-up and then dials afresh.
    if (!enabled())
        return;
    Use& u = U();
    const double keep = Num_Value(Cfg_Get("RAS\\KeepActive", "10"));
    if (!u.busy && u.up && u.users == 0 && u.lastActivity.msecsTo(Clock_Now()) > keep * 1000) {
        u.up = false;
        u.busy = true;
        if (QCoreApplication::instance())
            QMetaObject::invokeMethod(QCoreApplication::instance(), [] { Task_Start(hangUpIdle()); }, Qt::QueuedConnection);
        else
            Task_Start(hangUpIdle());
    }
}

int DialUse_Users() { return U().users; }
void DialUse_Reset() { U() = Use{}; }

} // namespace tollan
