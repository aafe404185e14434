#include "transactions/flows.h"

#include "dialogues/dialogue.h"
#include "dialogues/merchant.h"
#include "protocol/messages.h"
#include "receipts/receipt.h"
#include "support/carddata.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"
#include "transactions/card.h"
#include "transactions/repeats.h"
#include "protocol/response_text.h"
#include "workstation/dispatch.h"

namespace tollan {
namespace {

constexpr std::int16_t kRefusal = 32;
constexpr std::int16_t kBadRequest = 19;

// Every text of the flows is written here in UTF-8 and goes to the register in Windows-1252.
std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

// The trace number counter could not be written (a full disk): the next request would get the
// same number, so this one goes no further.
const char* const kStanNotSaved = "Tehingu numbrit ei õnnestunud salvestada!";
const char* const kNoCardKey = "Kaardiandmete võti puudub";

void refuse(WorkstationPacket& r, const std::string& text)
{
    r.AnswerData = WS_ErrorData(kRefusal, text);
    r.AnswerText = text;
}

// A database that takes no rows is found before the card centre approves a payment that could
// never be recorded nor sent on in a transaction file.
bool canRecord(WorkstationPacket& r)
{
    const DbStatus s = Db_Writable();
    if (!s) {
        Err_Report(s.number, s.description, W("Tehingut ei saa salvestada: ") + "tollan.mdb", 16);
        refuse(r, W("Tehingut ei saa salvestada!"));
        return false;
    }
    // Without the card key no card number could be kept, nor sent on in a file: refused before
    // the card centre hears of it, the cause told once.
    std::string why;
    if (CardKey_Usable(&why))
        return true;
    CardKey_Report(why);
    refuse(r, W(kNoCardKey));
    return false;
}

std::string declined(const std::string& code) { return "Viga nr. " + code + " - " + KK_ResponseText(code); }

bool approved(const TransRecord& t) { return t.ResponseCode == kKK_Approved; }

// After the card centre approved, a row that cannot be written must not pass unseen: the operator
// sees it with the transaction's data, the event log keeps it, and the register is told that the
// payment was not recorded, so the goods are not handed over on a payment that is never settled.
bool storeOrTell(WorkstationPacket& r, const TransRecord& t, const char* refusalUtf8)
{
    const DbStatus s = Db_StoreTrans(t);
    if (s)
        return true;
    const std::string what = "Kassa " + t.Toojaam + " tehing " + t.Trans + ", STAN " + t.STAN + ", summa " +
                             Fmt_Number(double(t.Amount) / 10000.0, "0.00") + ", aut.kood " + t.AuthCode;
    Err_Report(s.number, s.description, W("Kinnitatud tehingut ei õnnestunud salvestada: ") + what, 16);
    Log_Event(W("salvestamata kinnitatud tehing: ") + what);
    refuse(r, W(refusalUtf8));
    r.AnswerType = wsError;
    return false;
}

void approve(WorkstationPacket& r, const TransRecord& t, const PurchaseItems& items)
{
    r.AnswerType = wsApproval;
    r.AnswerData = WS_ApprovalData(Approval{t.Date, t.Time, t.Amount}, items);
}

// The response body as a verdict: a body we cannot read, or one without element 39, is no answer,
// never an approval.
bool readVerdict(const std::string& body, TransRecord& into)
{
    return KK_DecodeResponse(body, into) && !into.ResponseCode.empty();
}

// The requester hears how the card centre's dialogue goes, while it is there to hear it.
DialogueListener listenerOf(Requester& who)
{
    return {who.index(), [&who](const std::string& text) { who.inform(text); }, [&who] { return who.present(); }};
}

} // namespace

std::int32_t Trans_NextStan(bool* saved)
{
    // Read, counted on and saved as one step: `tollan config set` saving the file at the same
    // moment must neither undo the count nor have its own change undone.
    std::int32_t n = 0;
    const bool ok = Cfg_Change("NextNumber", "1", [&n](const std::string& last) {
        n = std::int32_t(std::clamp(Num_Value(last), -2147483648.0, 2147483646.0)) + 1;
        return std::to_string(n);
    });
    if (saved)
        *saved = ok;
    return n;
}

bool Trans_FromRequest(const WorkstationPacket& r, const PurchaseRequest& q, TransRecord& t)
{
    const CardDataField card = CardData_Read(q.CardData);
    t.Type = 0;
    t.PAN = q.PAN;
    t.WayOfUse = 1;
    t.Amount = q.Amount;
    t.Date = q.Date;
    t.Time = q.Time;
    bool saved = false;
    t.STAN = std::to_string(Trans_NextStan(&saved));
    t.ExpDate = card.expDate;
    t.Track2 = card.track2;
    t.Toojaam = r.Workstation;
    t.Trans = r.WorkstationTrans;
    t.POSCode = card.readFromCard ? kPosReadFromCard : 0;
    return saved;
}

namespace {

// A purchase under a number not used before; `declinedByCentre` tells whether the card centre
// declined it.
Task<WorkstationPacket> purchase(WorkstationPacket r, PurchaseRequest q, PurchaseItems items, Requester& who,
                                 bool& declinedByCentre)
{
    if (!canRecord(r))
        co_return r;
    TransRecord t;
    if (!Trans_FromRequest(r, q, t)) {
        refuse(r, W(kStanNotSaved));
        co_return r;
    }

    if (!Card_KeyedInAllowed(t.POSCode)) {
        refuse(r, std::string(kCardKeyedInRefused));
        co_return r;
    }
    if (!t.Track2.empty() && Card_Expired(t.ExpDate, Clock_NowDateTime())) {
        refuse(r, std::string(kCardExpired));
        co_return r;
    }

    who.inform(W("Kaardi kontroll..."));
    const std::optional<std::string> check = co_await WS_Dialog(who, r, std::string(kCardPresentPrompt), "");
    if (!check || check->empty()) {
        r.AnswerType = wsUnfinished;
        co_return r;
    }
    if (!Card_PresentAnswerMatches(*check, q.PAN, q.CardData)) {
        refuse(r, std::string(kCardPresentMismatch));
        co_return r;
    }

    TransRecord verdict;
    const AuthResult auth = co_await KK_Authorize(100, KK_BuildRequest(kKK_Bitmap0100, t, KK_MerchantIds(t.Toojaam)),
                                                  listenerOf(who));
    if (auth.answered && readVerdict(auth.response, verdict)) {
        t.ResponseCode = verdict.ResponseCode;
        t.AuthCode = verdict.AuthCode;
    } else {
        const std::string prompt = W("Autoriseerige telefonitsi tehing:") + "\r\n" + "Kaardi number " + t.PAN +
                                   "\r\n" + "Kehtivusaeg   " +
                                   Fmt_DateTime(Date_FromNumber(std::int32_t(t.ExpDate) * 100 + 1), "mm/yy") +
                                   "\r\n" + "Ostusumma     " + Fmt_Number(double(t.Amount) / 10000.0, "0.00");
        const std::optional<std::string> code = co_await WS_Dialog(who, r, prompt, "");
        if (!code || code->empty()) {
            r.AnswerType = wsUnfinished;
            co_return r;
        }
        t.ResponseCode = std::string(kKK_Approved);
        t.AuthCode = code->substr(0, 6);
        t.POSCode |= kPosPhoneAuth;
    }

    if (!approved(t)) {
        Err_Report(std::int32_t(Num_Value(t.ResponseCode)), KK_ResponseText(t.ResponseCode), "Kaardikeskuse vastus", 48);
        refuse(r, declined(t.ResponseCode));
        declinedByCentre = true;
        co_return r;
    }
    if (!storeOrTell(r, t, "Tehing jäi salvestamata, kaupa mitte väljastada!"))
        co_return r;
    co_await Receipt_Print(who, r, t, "");
    approve(r, t, items);
    co_return r;
}

} // namespace

Task<WorkstationPacket> Trans_Purchase(WorkstationPacket r, Requester& who)
{
    PurchaseRequest q;
    PurchaseItems items;
    if (!WS_DecodePurchase(r.RequestData, q, items))
        co_return r;
    if ((q.Kind != 0 && q.Kind != 3) || q.Amount < 0) {
        r.AnswerData = WS_ErrorAnswer(kBadRequest);
        co_return r;
    }
    // A register that lost the answer asks again under the same number: answered as it was.
    std::shared_ptr<RepeatRun> run;
    RequestSameness same{wsPurchase, q.Amount, q.PAN, {}};
    std::optional<WorkstationPacket> repeat = co_await Repeat_Answer(r, std::move(same), items, run);
    if (repeat)
        co_return *repeat;
    bool declinedByCentre = false;
    r = co_await purchase(std::move(r), std::move(q), std::move(items), who, declinedByCentre);
    Repeat_Finish(run, r, declinedByCentre);
    co_return r;
}

bool Trans_Read(TransSet& set, TransRecord& t, bool markSent)
{
    std::string code = std::move(t.ResponseCode);
    t = Db_ReadTrans(set);
    t.ResponseCode = std::move(code);
    return markSent ? bool(set.markSent()) : true;
}

std::string Trans_OriginalData(const TransRecord& o)
{
    auto id = [](const KKSetting& s) { return std::int64_t(Num_Value(KK_Get(s))); };
    // The original's number as its element 11 went: the rightmost six digits.
    return "0100" + KK_Number(std::int64_t(Num_Value(o.STAN)) % 1000000, 6) + KK_Number(o.Date % 10000, 4) +
           KK_Number(o.Time, 6) + KK_Number(id(kKK_AutoriseerijaID), 11) + KK_Number(id(kKK_EdastajaID), 11);
}

bool Trans_FindOriginal(std::string_view workstation, std::string_view key, TransRecord& o, bool& sent)
{
    TransSet set;
    bool found = set.open("iSTAN") && set.seek("=", {DbKey(key)});
    if (!found)
        found = set.open("iToojaamTrans") && set.seek("=", {DbKey(workstation), DbKey(key)});
    if (!found)
        return false;
    Trans_Read(set, o, false);
    // A file on its way to the card centre carries it already: as good as sent.
    sent = set.sent() || o.FileNr != 0;
    return true;
}

namespace {

// The cancellation of `o` under a number not used before; `declinedByCentre` tells whether the card
// centre declined it.
Task<WorkstationPacket> cancel(WorkstationPacket r, TransRecord o, bool sent, Requester& who, bool& declinedByCentre)
{
    // Already sent to the card centre in a file, or itself a cancellation: the preset answer goes.
    if (sent || o.Type % 2 != 0)
        co_return r;
    // A purchase is refunded once: a second cancellation never reaches the card centre.
    if (Db_Cancelled(o)) {
        refuse(r, W("Tehing on juba tühistatud!"));
        co_return r;
    }
    if (!canRecord(r))
        co_return r;

    // The 0400 names the original's full number: opened from its sealed form for this request only.
    const std::optional<std::string> pan = Db_CardNumber(o);
    if (!pan) {
        CardKey_Report("the card number of STAN " + o.STAN + " cannot be opened with the keys in force");
        refuse(r, W(kNoCardKey));
        co_return r;
    }
    TransRecord n = o;
    n.PAN = *pan;
    n.Type = std::int16_t(o.Type + 1);
    const DateTime now = Clock_NowDateTime();
    n.Date = Date_Number(now);
    n.Time = Time_Number(now);
    bool saved = false;
    n.STAN = std::to_string(Trans_NextStan(&saved));
    n.Toojaam = r.Workstation;
    n.Trans = r.WorkstationTrans;
    n.OrigSTAN = o.STAN;
    if (!saved) {
        refuse(r, W(kStanNotSaved));
        co_return r;
    }

    // Recorded before it leaves: should the terminal stop after the card centre has reversed the
    // purchase, the row is there to be finished with the repeat at the next start.
    n.Pending = true;
    if (const DbStatus s = Db_StoreTrans(n); !s) {
        Err_Report(s.number, s.description, W("Tühistust ei õnnestunud salvestada: ") + "STAN " + n.STAN, 16);
        refuse(r, W("Tehingut ei saa salvestada!"));
        co_return r;
    }
    n.Pending = false;

    // Read into a copy: the response echoes the new number in element 11, and the receipt names the
    // original's.
    TransRecord verdict = o;
    const AuthResult auth = co_await KK_Authorize(
        400, KK_BuildRequest(kKK_Bitmap0400, n, KK_MerchantIds(n.Toojaam), Trans_OriginalData(o)), listenerOf(who));
    if (!auth.answered || !readVerdict(auth.response, verdict)) {
        // A reversal that never left is no reversal; one without a verdict stays pending, to be
        // asked again with the repeat until the card centre says what became of it.
        if (!auth.sent)
            Db_DropPending(n);
        refuse(r, W("Ei õnnestunud kaardikeskusega ühendust luua!"));
        co_return r;
    }
    n.ResponseCode = verdict.ResponseCode;
    n.AuthCode = verdict.AuthCode;
    if (!approved(n)) {
        Db_DropPending(n);
        refuse(r, declined(n.ResponseCode));
        declinedByCentre = true;
        co_return r;
    }
    // Completed before the receipt: a cancellation that is not recorded gets no receipt.
    if (const DbStatus s = Db_CompletePending(n); !s) {
        const std::string what = "Kassa " + n.Toojaam + " tehing " + n.Trans + ", STAN " + n.STAN;
        Err_Report(s.number, s.description, W("Kinnitatud tühistust ei õnnestunud salvestada: ") + what, 16);
        refuse(r, W("Tühistus jäi salvestamata, raha mitte tagastada!"));
        r.AnswerType = wsError;
        co_return r;
    }
    co_await Receipt_Print(who, r, n, o.STAN);
    // An approved cancellation is answered as approved, not with the preset error.
    approve(r, n, {});
    co_return r;
}

} // namespace

Task<WorkstationPacket> Trans_Cancel(WorkstationPacket r, Requester& who)
{
    TransRecord o;
    bool sent = false;
    // Not found: the preset answer goes.
    if (!Trans_FindOriginal(r.Workstation, r.RequestData, o, sent))
        co_return r;
    // Asked again under the same number, the cancellation of the same purchase: answered as it was.
    std::shared_ptr<RepeatRun> run;
    RequestSameness same{wsCancel, 0, {}, o.STAN};
    PurchaseItems none;
    std::optional<WorkstationPacket> repeat = co_await Repeat_Answer(r, std::move(same), std::move(none), run);
    if (repeat)
        co_return *repeat;
    bool declinedByCentre = false;
    r = co_await cancel(std::move(r), std::move(o), sent, who, declinedByCentre);
    Repeat_Finish(run, r, declinedByCentre);
    co_return r;
}

Task<int> Trans_FinishPendingCancellations()
{
    int finished = 0;
    for (TransRecord n : Db_PendingCancellations()) {
        if (App_Stopping())
            break;
        TransRecord o;
        TransSet set;
        if (!(set.open("iSTAN") && set.seek("=", {DbKey(n.OrigSTAN)}))) {
            // The purchase is gone from the table: nothing to say to the card centre about it.
            Db_DropPending(n);
            continue;
        }
        Trans_Read(set, o, false);
        const std::optional<std::string> pan = Db_CardNumber(n);
        if (!pan)
            continue;   // the key set in force cannot open it: told at the start
        n.PAN = *pan;
        TransRecord verdict = o;
        const AuthResult auth = co_await KK_Authorize(
            400, KK_BuildRequest(kKK_Bitmap0400, n, KK_MerchantIds(n.Toojaam), Trans_OriginalData(o)), DialogueListener{},
            true);
        if (!auth.answered || !readVerdict(auth.response, verdict))
            continue;   // still no verdict: asked again at the next chance
        n.ResponseCode = verdict.ResponseCode;
        n.AuthCode = verdict.AuthCode;
        const bool reversed = approved(n);
        const DbStatus s = reversed ? Db_CompletePending(n) : Db_DropPending(n);
        if (!s)
            continue;
        Log_Event(W(reversed ? "ootel tühistus kinnitatud: STAN " : "ootel tühistus tagasi lükatud: STAN ") + n.STAN +
                  ", " + (reversed ? "kood " + n.AuthCode : declined(n.ResponseCode)));
        ++finished;
    }
    co_return finished;
}

void Trans_InstallFlows() { WS_SetFlows({Trans_Purchase, Trans_Cancel}); }

} // namespace tollan
