// The scheduled jobs: the transfer of the transaction file at the "SendTransTime" masks (and on the
// operator's command), and the work of every tick of Timora1.
#include "shell/fmain.h"
#include "shell/status.h"

#include "links/dialup.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "workstation/connections.h"

#include <QLabel>

namespace tollan {

namespace {

constexpr int kScheduledJob = -10;  // the busy marker's work index of the scheduled jobs

// Whatever way the transfer ends, no database transaction stays open behind it.
struct RollBackOpen {
    ~RollBackOpen()
    {
        if (Db_InTransaction()) Db_Rollback();
    }
};

} // namespace

void fMain::Timora1_Alert(const QString& category, const QString& action)
{
    (void)action;
    if (category != QLatin1String("side") || !service_) return;
    transferDue_ = true;
    PostDueTransfer();
}

void fMain::PostDueTransfer()
{
    // The transfer runs from the event loop, never inside the scheduler's timer: the timer must
    // go on ticking through it, with busy notices to the registers that wait.
    if (transferDue_ || unfinishedDue_)
        QMetaObject::invokeMethod(this, [this] { RunDueTransfer(); }, Qt::QueuedConnection);
}

void fMain::RunDueTransfer()
{
    if (!(transferDue_ || unfinishedDue_) || App_Stopping()) return;
    // A request or another transfer in progress: the transfer waits for a tick that finds the
    // marker free. Skipped, a send time met while a register paid would send nothing that day.
    BusyGuard busy(service_->queue(), kScheduledJob);
    if (!busy.held()) return;
    const bool whole = transferDue_;
    transferDue_ = unfinishedDue_ = false;
    RollBackOpen rollBack;
    const auto& job = whole ? sendTransFiles : finishUnfinished;
    const int accepted = job ? job() : 0;
    // An accepted file shows at once: the count falls, the status line says so. A refusal or a
    // failure has been reported with its cause.
    if (accepted > 0) {
        Label("lConsole")->setText(accepted == 1 ? QStringLiteral("Tehingufail saadetud")
                                                 : QStringLiteral("Tehingufailid saadetud (%1)").arg(accepted));
        RefreshUnsentStatus();
    }
}

void fMain::Timora1_Timer()
{
    if (!service_) return;
    const QDateTime now = Clock_Now();
    // Busy notices every ten seconds and the waiting request picked up.
    service_->Tick(now);
    PostDueTransfer();
    if (Clock_TenSecondsDue(now, statusStep_)) RefreshUnsentStatus();
    DialUse_IdleCheck();
}

void fMain::RefreshUnsentStatus()
{
    const UnsentStatus s = Status_Unsent();
    Label("lCount")->setText(Text_ToQString(Status_CountText(s.count)));
    Label("lDate")->setText(Text_ToQString(s.since));
}

} // namespace tollan
