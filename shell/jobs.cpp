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

// Whatever way the transfer ends, no database transaction stays open behind it.
struct RollBackOpen {
    ~RollBackOpen()
    {
        if (Db_InTransaction()) Db_Rollback();
    }
};

// One pass of the transfer job. A plain function, not a lambda inside the coroutine that starts it:
// the job travels by value into this frame and lives as long as the pass.
Task<int> RunJob(std::function<Task<int>()> job)
{
    RollBackOpen rollBack;
    co_return job ? co_await job() : 0;
}

std::function<Task<int>()> JobOf(std::function<Task<int>()> job)
{
    return [job = std::move(job)] { return RunJob(job); };
}

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
    if ((transferDue_ || unfinishedDue_) && !transferRunning_)
        QMetaObject::invokeMethod(this, [this] { Task_Start(RunDueTransfer()); }, Qt::QueuedConnection);
}

Task<void> fMain::RunDueTransfer()
{
    if (!(transferDue_ || unfinishedDue_) || transferRunning_ || App_Stopping()) co_return;
    // It waits for the requests under way to end, and those that arrive meanwhile wait behind it.
    // Skipped, a send time met while a register paid would send nothing that day.
    transferRunning_ = true;
    const bool whole = transferDue_;
    transferDue_ = unfinishedDue_ = false;
    // Made outside the coroutine and handed over as one task: GCC 12 destroys twice a closure
    // built within a coroutine's co_await expression.
    Task<std::optional<int>> alone = service_->RunAlone(JobOf(whole ? sendTransFiles : finishUnfinished));
    const std::optional<int> ran = co_await std::move(alone);
    transferRunning_ = false;
    const int accepted = ran.value_or(0);
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
