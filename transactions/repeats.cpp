#include "transactions/repeats.h"

#include "store/db.h"
#include "support/cardmask.h"
#include "support/codepage.h"
#include "support/text.h"
#include "support/wait.h"

#include <deque>
#include <map>

namespace tollan {

struct RepeatRun {
    std::string key;
    RequestSameness same;
    bool done = false;
    WorkstationPacket answer;
};

namespace {

std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

std::string keyOf(const WorkstationPacket& r) { return r.Workstation + '\n' + r.WorkstationTrans; }

// The requests running now, by register and number.
std::map<std::string, std::shared_ptr<RepeatRun>>& running()
{
    static std::map<std::string, std::shared_ptr<RepeatRun>> m;
    return m;
}

// The card centre's declines while the database is open, by register and number: no row keeps them,
// and a register that lost one is told it again rather than having the card asked a second time.
// The oldest go first once a day's worth is kept; another database (opened again) starts with none.
constexpr std::size_t kDeclinesKept = 10000;
struct Declines {
    int opening = 0;
    std::map<std::string, std::shared_ptr<RepeatRun>> byKey;
    std::deque<std::string> order;
};
Declines& declines()
{
    static Declines d;
    if (d.opening != Db_Opening())
        d = Declines{Db_Opening()};
    return d;
}

bool sameRequest(const RequestSameness& a, const RequestSameness& b)
{
    return a.kind == b.kind && a.amount == b.amount && a.pan == b.pan && a.origStan == b.origStan;
}

// Whether the stored row `t` is what the request `same` asks for again: a cancellation of the same
// purchase, or a purchase of the same amount with the same card (its full number while the row keeps
// it sealed, else as masked).
bool sameAsStored(const RequestSameness& same, const TransRecord& t)
{
    if (same.kind == wsCancel)
        return t.Type % 2 != 0 && t.OrigSTAN == same.origStan;
    if (t.Type % 2 != 0 || t.Amount != same.amount)
        return false;
    const std::optional<std::string> pan = Db_CardNumber(t);
    return pan ? *pan == same.pan : t.PAN == Card_Mask(same.pan);
}

void logRepeat(const WorkstationPacket& r, const std::string& how)
{
    Log_Event(W("korduv päring: kassa ") + r.Workstation + " nr " + r.WorkstationTrans + ", " + how);
}

WorkstationPacket refused(WorkstationPacket r)
{
    const std::string text = W("Selle numbriga tehing on juba tehtud!");
    r.AnswerType = wsError;
    r.AnswerData = WS_ErrorData(32, text);
    r.AnswerText = text;
    return r;
}

WorkstationPacket answeredAs(WorkstationPacket r, const WorkstationPacket& first)
{
    r.AnswerType = first.AnswerType;
    r.AnswerData = first.AnswerData;
    r.AnswerText = first.AnswerText;
    return r;
}

} // namespace

Task<std::optional<WorkstationPacket>> Repeat_Answer(WorkstationPacket r, RequestSameness same, PurchaseItems items,
                                                     std::shared_ptr<RepeatRun>& run)
{
    const std::string key = keyOf(r);
    for (auto it = running().find(key); it != running().end(); it = running().find(key)) {
        const std::shared_ptr<RepeatRun> first = it->second;
        if (!sameRequest(first->same, same))
            co_return refused(r);
        logRepeat(r, W("ootab esimese vastust"));
        const bool answered = co_await Wait_Until([first] { return first->done; }, -1);
        if (!answered)
            co_return r;   // the terminal stops: the preset answer
        // A first left unfinished (its register gone from the prompt, or silent) moved no money:
        // the repeat is served as a new request (after any other repeat that took it up first).
        if (first->answer.AnswerType != wsUnfinished)
            co_return answeredAs(r, first->answer);
    }

    TransSet set;
    if (set.open("iToojaamTrans") && set.seek("=", {DbKey(r.Workstation), DbKey(r.WorkstationTrans)})) {
        const TransRecord t = Db_ReadTrans(set);
        // A cancellation whose verdict is not in yet has nothing to repeat: refused as any number used.
        if (t.Pending || !sameAsStored(same, t))
            co_return refused(r);
        logRepeat(r, W("vastatud salvestatud kinnitusega, STAN ") + t.STAN);
        r.AnswerType = wsApproval;
        r.AnswerData = WS_ApprovalData(Approval{t.Date, t.Time, t.Amount}, items);
        r.AnswerText.clear();
        co_return r;
    }

    Declines& kept = declines();
    if (const auto it = kept.byKey.find(key); it != kept.byKey.end() && sameRequest(it->second->same, same)) {
        logRepeat(r, W("vastatud kaardikeskuse keeldumisega"));
        co_return answeredAs(r, it->second->answer);
    }

    run = std::make_shared<RepeatRun>();
    run->key = key;
    run->same = std::move(same);
    running()[key] = run;
    co_return std::nullopt;
}

void Repeat_Finish(const std::shared_ptr<RepeatRun>& run, const WorkstationPacket& answered, bool declinedByCentre)
{
    if (!run)
        return;
    run->answer = answered;
    run->done = true;
    running().erase(run->key);
    if (declinedByCentre) {
        Declines& kept = declines();
        if (kept.byKey.insert_or_assign(run->key, run).second)
            kept.order.push_back(run->key);
        while (kept.order.size() > kDeclinesKept) {
            kept.byKey.erase(kept.order.front());
            kept.order.pop_front();
        }
    }
    Wait_Notify();
}

} // namespace tollan
