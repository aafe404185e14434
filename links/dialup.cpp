#include "links/dialup.h"

#include "links/ras.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/text.h"

#include <QCoreApplication>
#include <QDateTime>

namespace tollan {
namespace {

struct Use {
    int users = 0;
    bool up = false;
    QDateTime lastActivity;
};
Use& U()
{
    static Use u;
    return u;
}

bool enabled() { return Num_Value(Cfg_Get("UseRAS", "0")) != 0; }

} // namespace

void DialUse_Acquire()
{
    if (!enabled())
        return;
    DialUse_Check();
    Use& u = U();
    ++u.users;
    // Marked up even when the dial failed: the next check finds no connection and puts it right.
    if (u.users == 1 && !u.up) {
        Ras_Acquire();
        u.up = true;
    }
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

void DialUse_Check()
{
    if (!enabled())
        return;
    Use& u = U();
    if (u.up && Ras_FindConnection() == 0) {  // it has dropped
        u.users = 0;
        u.up = false;
        Ras_Release();
    }
}

void DialUse_IdleCheck()
{
    // Every tick comes here: nothing that starts a program or reads the service's files. A line
    // that dropped is found by the next connect's check; an idle one is hung up from the event loop,
    // since hanging up runs a program (poff, nmcli) that may take seconds.
    if (!enabled())
        return;
    Use& u = U();
    const double keep = Num_Value(Cfg_Get("RAS\\KeepActive", "10"));
    if (u.up && u.users == 0 && u.lastActivity.msecsTo(Clock_Now()) > keep * 1000) {
        u.up = false;
        if (QCoreApplication::instance())
            QMetaObject::invokeMethod(QCoreApplication::instance(), [] { Ras_Release(); }, Qt::QueuedConnection);
        else
            Ras_Release();
    }
}

int DialUse_Users() { return U().users; }
void DialUse_Reset() { U() = Use{}; }

} // namespace tollan
