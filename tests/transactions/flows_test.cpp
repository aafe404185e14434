#include "transactions/flows.h"

#include "links/tcp.h"
#include "dialogues/dialogue.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "tests/transactions/suite.h"
#include "support/errors.h"
#include "support/text.h"
#include "tests/common/card_centre.h"
#include "tests/common/full_disk.h"
#include "tests/common/register.h"
#include "tests/common/registry_lock.h"
#include "tests/common/tasks.h"
#include "workstation/connections.h"
#include "workstation/dispatch.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>

#include <vector>

using namespace tollan::test;

namespace {

std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

constexpr int kRegister = 4;

// Card data: the track (40), the entry flag, the expiry YYMM as printed on the card.
std::string CardData(const std::string& track, char entry, const std::string& expiry)
{
    std::string d = track;
    d.resize(40, ' ');
    return d + entry + expiry;
}

class Flows : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(Db_Open());
        Cfg_Put("Tollan_Auth_Address", centre.Address());
        reg.connected[kRegister] = true;
        centre.onFrame = [this](Centre& c, const std::string& f) {
            requests.push_back(f);
            if (verdict != kSilent)
                c.Send(KK_Frame(Type(f[0] == '\x04' ? 410 : 110) + Verdict0110("A1B2C3", verdict)));   // 0400, 0401
        };
    }
    void TearDown() override
    {
        WS_SetFlows({});
        Db_Database().close();
    }
    WorkstationPacket Purchase(const char* trans, std::int64_t amount = 125000, std::int16_t kind = 0,
                               std::string cardData = CardData("4000001234567899=28121010000012300000", '0', "2812"),
                               std::string pan = "4000001234567899")
    {
        PurchaseRequest q;
        q.Kind = kind;
        q.Date = 20261207;
        q.Time = 123000;
        q.Amount = amount;
        q.PAN = pan;
        q.CardData = cardData;
        WorkstationPacket r;
        r.Workstation = "POS00001";
        r.WorkstationTrans = trans;
        r.Requester = kRegister;
        r.RequestType = wsPurchase;
        r.RequestData = WS_EncodePurchase(q, Items(amount));
        return r;
    }
    static PurchaseItems Items(std::int64_t amount)
    {
        PurchaseItems items(2);
        items[1].ItemCode = "A1";
        items[1].ItemAmount1 = amount;
        return items;
    }
    // What the dispatcher would send back.
    WorkstationPacket Run(WorkstationPacket r, Task<WorkstationPacket> (*flow)(WorkstationPacket, Requester&) = Trans_Purchase)
    {
        r.AnswerType = wsError;
        r.AnswerData = WS_ErrorAnswer(1);
        return Finish(flow(r, reg[kRegister]));
    }
    static std::string Refusal(const WorkstationPacket& r)
    {
        std::int16_t code = 0;
        std::string text;
        WS_ParseError(r.AnswerData, code, text);
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return code == 32 ? text : "code " + std::to_string(code);
    }
    int Rows(const char* where = "1")
    {
        QSqlQuery q(Db_Database());
        q.exec(QString("SELECT count(*) FROM Trans WHERE %1").arg(where));
        return q.next() ? q.value(0).toInt() : -1;
    }

    QTemporaryDir home;
    TestClock clock{QDateTime(QDate(2026, 12, 7), QTime(12, 30, 0))};
    ClockScope scope{clock};
    Centre centre;
    FakeRegisters reg;   // answers the prompts and print requests at once
    static inline const std::string kSilent = "silent";
    std::string verdict = "00";  // the card centre's element 39 ("" none), or kSilent
    std::vector<std::string> requests;
};

// Everything a register on the line hears of one approved purchase, in order and nothing else: the
// card check, the card-present prompt, the card centre's progress, two receipts, the answer.
TEST_F(Flows, AnApprovedPurchaseReachesTheRegisterAsOneSequenceAndIsStored)
{
    Clock_Set(nullptr);   // real time: the test clock's jumps would outrun the loopback line
    WorkstationService service;   // the program's own requesters replace the fixture's
    ASSERT_TRUE(service.StartOn(0));
    Trans_InstallFlows();
    test::Register till(quint16(service.port()));
    ASSERT_TRUE(till.Connected());
    auto answer = [](const char* text) {
        return [text](test::Register& r, const WorkstationPacket& p) {
            r.Send(RegisterRequest(wsDialogAnswer, p.WorkstationTrans, text, "POS00001"));
        };
    };
    till.onPrompt = answer("7899");
    till.onPrint = answer("-1");
    const std::string card = CardData("4000001234567899=49121010000012300000", '0', "4912");
    till.Send(RegisterRequest(wsPurchase, "00000011", Purchase("1", 125000, 0, card).RequestData, "POS00001"));
    auto answered = [&] {
        const int t = till.got.empty() ? int(wsInfo) : till.got.back().RequestType;
        return t != wsInfo && t != wsDialog && t != wsPrint;
    };
    ASSERT_TRUE(Clock_WaitUntil(answered, 10000));
    Clock_WaitUntil([] { return false; }, 300);   // whatever came after the answer shows below
    std::vector<std::pair<int, std::string>> heard;
    for (const auto& p : till.got) {
        std::string data = p.RequestData, second;
        if (p.RequestType == wsDialog)
            WS_ParseDialog(p.RequestData, data, second);
        if (p.RequestType == wsPrint)
            data.clear();   // the receipts' texts are the receipt tests' business
        heard.emplace_back(p.RequestType, data);
    }
    const std::vector<std::pair<int, std::string>> expected = {
        {wsInfo, "Kaardi kontroll..."},
        {wsDialog, "Kontroll: 4 viimast kaardinumbri kohta\rv\xF5i kehtivusaeg AAKK"},
        {wsInfo, W("Loon ühendust...")}, {wsInfo, W("Edastan päringu...")}, {wsInfo, W("Ootan vastust...")},
        {wsInfo, W("Lõpetan...")}, {wsPrint, ""}, {wsPrint, ""},
        {wsApproval, WS_ApprovalData(Approval{20261207, 123000, 125000}, Items(125000))},
    };
    EXPECT_EQ(heard, expected);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].compare(0, 2, Type(100)), 0);
    EXPECT_EQ(Rows("Toojaam = 'POS00001' AND Trans = '00000011' AND AuthCode = 'A1B2C3' AND Type = 0 AND POSCode = 1"), 1);
    EXPECT_EQ(Cfg_Get("NextNumber", ""), "2");
}

// A purchase too short to read gets the preset answer from the flow the program installs, and
// nothing else happens: no card check, no card centre, no number taken.
TEST_F(Flows, APurchaseTooShortToReadGetsThePresetAnswerAlone)
{
    Trans_InstallFlows();
    WorkstationPacket r = Purchase("1");
    r.RequestData.resize(195);
    Finish(WS_Dispatch(r, reg.At(kRegister)));
    ASSERT_EQ(reg.got.size(), 1u);
    EXPECT_EQ(reg.got[0].RequestType, wsError);
    EXPECT_EQ(reg.got[0].RequestData, WS_ErrorAnswer(1));
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(Cfg_Get("NextNumber", "none"), "none");
}

TEST_F(Flows, RefusalsBeforeTheCardCentre)
{
    // allowManual nullptr: the setting is missing
    struct Case { const char* name; WorkstationPacket r; const char* allowManual; std::string refusal; };
    const std::string keyed = CardData("", '1', "2812");
    const std::string expired = CardData("4000001234567899=25111010000012300000", '0', "2511");
    const Case cases[] = {
        {"kind 1", Purchase("1", 100, 1), nullptr, "code 19"},
        {"negative amount", Purchase("2", -1), nullptr, "code 19"},
        {"keyed in, forbidden", Purchase("3", 100, 0, keyed), "0", W("Kaardinumbrit pole lubatud käsitsi sisestada!")},
        {"expired", Purchase("4", 100, 0, expired), nullptr, W("Kaart on kehtivusaja ületanud!")},
        {"digits differ", Purchase("5"), nullptr, std::string("Sisestatud numbrid erinevad kaardi magnetrajal ole")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.allowManual)
            Cfg_Put("AllowManualPAN", c.allowManual);
        reg.answers = {"1111"};
        EXPECT_EQ(Refusal(Run(c.r)), c.refusal);
    }
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Cfg_Get("NextNumber", ""), "4");  // every request past the first checks took a number
}

TEST_F(Flows, WhatPassesTheChecks)
{
    reg.answers = {"2812", "7899", "7899"};
    // The expiry as printed on the card answers the check too; kind 3 is a purchase.
    EXPECT_EQ(Run(Purchase("1", 100, 3)).AnswerType, wsApproval);
    // A card that expires this month is good until its end; no track skips the expiry check.
    EXPECT_EQ(Run(Purchase("2", 100, 0, CardData("4000001234567899=26121010000012300000", '0', "2612"))).AnswerType, wsApproval);
    EXPECT_EQ(Run(Purchase("3", 100, 0, CardData("", '1', "0001"))).AnswerType, wsApproval);
    EXPECT_EQ(Rows("Type = 0"), 3);
    EXPECT_EQ(Rows("POSCode = 0"), 1);  // the keyed-in one
}

TEST_F(Flows, OnlyDoubleZeroApprovesAndEveryOtherCodeIsADeclineReportedAndNotStored)
{
    const std::tuple<const char*, const char*, int> declines[] = {
        {"05", "Viga nr. 05 - Puudub müügiluba", 5},
        {"N7", "Viga nr. N7 - Tundmatu kood: N7", 0},
        {"0A", "Viga nr. 0A - Tundmatu kood: 0A", 0},
        {"  ", "Viga nr.    - Tundmatu kood:", 0},   // (the answer's trailing blanks are not read)
    };
    int trans = 0;
    for (const auto& [code, text, number] : declines) {
        verdict = code;
        reg.answers = {"7899"};
        const WorkstationPacket r = Run(Purchase(std::to_string(++trans).c_str()));
        EXPECT_EQ(r.AnswerType, wsError) << code;
        EXPECT_EQ(Refusal(r), W(text)) << code;
        EXPECT_EQ(Err_Record(Err_Index()).message, "Kaardikeskuse vastus");
        EXPECT_EQ(Err_Record(Err_Index()).number, number);
    }
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Cfg_Get("NextNumber", ""), "5");
}

// A card centre that stays silent (after the one repeat) or answers without a verdict: the
// cashier is asked for an authorisation by telephone, with the card's data, and its code is stored.
// A prompt nobody answers abandons the purchase.
TEST_F(Flows, NoVerdictLeadsToTheTelephoneCodeAndAPromptLeftUnansweredToNothing)
{
    const std::pair<std::string, std::size_t> cases[] = {{kSilent, 2}, {"", 1}};
    int trans = 0;
    for (const auto& [answer, sent] : cases) {
        SCOPED_TRACE(answer);
        verdict = answer;
        requests.clear();
        reg.got.clear();
        reg.answers = {"7899", "12345678"};
        EXPECT_EQ(Run(Purchase(std::to_string(++trans).c_str())).AnswerType, wsApproval);
        EXPECT_EQ(requests.size(), sent);
        std::vector<std::string> prompts;
        for (const auto& p : reg.got) {
            std::string prompt, second;
            if (p.RequestType == wsDialog && WS_ParseDialog(p.RequestData, prompt, second))
                prompts.push_back(prompt);
        }
        ASSERT_EQ(prompts.size(), 2u);
        EXPECT_EQ(prompts[1], W("Autoriseerige telefonitsi tehing:") +
                                  "\r\nKaardi number 4000001234567899\r\nKehtivusaeg   12/28\r\nOstusumma     12.50");
    }
    EXPECT_EQ(Rows("AuthCode = '123456' AND POSCode = 3"), 2);

    reg.answers = {"7899", ""};  // and when nobody enters a code, nothing is stored
    EXPECT_EQ(Run(Purchase("3")).AnswerType, wsUnfinished);
    requests.clear();
    reg.answers = {""};   // nor when nobody answers the card check, and the card centre hears nothing
    EXPECT_EQ(Run(Purchase("4")).AnswerType, wsUnfinished);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(Rows(), 2);
}

TEST_F(Flows, AnApprovalThatCannotBeStoredIsToldToTheRegisterAndTheTerminal)
{
    reg.answers = {"7899"};
    centre.onFrame = [](Centre& c, const std::string&) {
        QSqlQuery(Db_Database()).exec("DROP TABLE Trans");  // the disk gives way after the approval
        c.Send(KK_Frame(Type(110) + Verdict0110("A1B2C3", "00")));
    };
    const WorkstationPacket r = Run(Purchase("1"));
    EXPECT_EQ(Refusal(r), W("Tehing jäi salvestamata, kaupa mitte väljastada!"));
    EXPECT_EQ(reg.Count(wsPrint), 0);
    EXPECT_NE(Err_Record(Err_Index()).message.find("A1B2C3"), std::string::npos);
    QSqlQuery q(Db_Database());
    ASSERT_TRUE(q.exec("SELECT Message FROM Log") && q.next());
    EXPECT_TRUE(q.value(0).toString().startsWith("salvestamata kinnitatud tehing"));
}

TEST_F(Flows, ADatabaseThatTakesNoRowsRefusesBeforeTheCardCentre)
{
    Db_Database().close();
    reg.answers = {"7899"};
    EXPECT_EQ(Refusal(Run(Purchase("1"))), W("Tehingut ei saa salvestada!"));
    EXPECT_EQ(Err_Record(Err_Index()).message, W("Tehingut ei saa salvestada: tollan.mdb"));
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(reg.got.empty());
    EXPECT_EQ(Cfg_Get("NextNumber", "none"), "none");   // no trace number taken
}

class Cancels : public Flows {
protected:
    void SetUp() override
    {
        Flows::SetUp();
        reg.answers = {"7899", "7899"};
        ASSERT_EQ(Run(Purchase("00000011")).AnswerType, wsApproval);  // STAN 2
        ASSERT_EQ(Run(Purchase("00000002")).AnswerType, wsApproval);  // STAN 3, Trans "2" coincides
        requests.clear();
        reg.got.clear();
    }
    WorkstationPacket Cancel(const char* workstation, const char* trans, const char* data)
    {
        WorkstationPacket r;
        r.Workstation = workstation;
        r.WorkstationTrans = trans;
        r.Requester = kRegister;
        r.RequestType = wsCancel;
        r.RequestData = data;
        return Run(r, Trans_Cancel);
    }
};

TEST_F(Cancels, FoundByStanFromAnyRegisterOrByNumberFromItsOwn)
{
    const WorkstationPacket byStan = Cancel("POS00009", "C1", "2");  // STAN 2 wins over Trans "2"
    EXPECT_EQ(byStan.AnswerType, wsApproval);
    EXPECT_EQ(Rows("Type = 1 AND Toojaam = 'POS00009' AND Trans = 'C1' AND PAN = '400000******7899'"), 1);
    ASSERT_EQ(requests.size(), 1u);
    // The 0400 as the card centre gets it: element 11 the cancellation's own number (4), element
    // 38 the original's authorisation code, element 90 built from the original (STAN 2, 07.12 12:30).
    const std::string body = requests[0];
    ASSERT_GT(body.size(), 80u);
    EXPECT_EQ(body.substr(0, 2), Type(400));
    EXPECT_EQ(body.substr(2 + 16 + 9 + 3 + 6 + 5, 3), KK_PackDigits("000004"));
    EXPECT_EQ(body.substr(2 + 16 + 9 + 3 + 6 + 5 + 3 + 2, 6), "A1B2C3");
    EXPECT_EQ(body.substr(body.size() - 21), KK_PackDigits("0100" "000002" "1207" "123000" + std::string(22, '0')));
    EXPECT_EQ(reg.Count(wsPrint), 2);

    EXPECT_EQ(Cancel("POS00009", "C2", "00000011").AnswerType, wsError);  // another register's number
    EXPECT_EQ(Refusal(Cancel("POS00001", "C4", "C1")), "code 1");   // a cancellation is not cancelled
    QSqlQuery(Db_Database()).exec("UPDATE Trans SET sent = -1");
    EXPECT_EQ(Refusal(Cancel("POS00001", "C5", "3")), "code 1");  // gone in a file already
    EXPECT_EQ(requests.size(), 1u);
}

// A repeated number with other data, of a cancellation or of a purchase, is refused before the card
// centre hears of it.
TEST_F(Cancels, APurchaseIsRefundedOnceWhicheverNumberNamesIt)
{
    ASSERT_EQ(Cancel("POS00009", "C1", "2").AnswerType, wsApproval);
    // Its own register's number, then the STAN again: the card centre hears of neither.
    EXPECT_EQ(Refusal(Cancel("POS00001", "C2", "00000011")), W("Tehing on juba tühistatud!"));
    EXPECT_EQ(Refusal(Cancel("POS00009", "C3", "2")), W("Tehing on juba tühistatud!"));
    reg.answers = {"7899"};   // and another purchase under a number its register used already
    EXPECT_EQ(Refusal(Run(Purchase("00000011", 100))), W("Selle numbriga tehing on juba tehtud!"));
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(Rows("Type = 1"), 1);
    // A cancellation stored before cancellations named their original still counts.
    QSqlQuery(Db_Database()).exec("INSERT INTO Trans (Type, PAN, Amount, AuthCode, STAN, sent, Toojaam, Trans)"
                                  " SELECT 1, PAN, Amount, AuthCode, '9', 0, 'POS00001', 'OLD' FROM Trans"
                                  " WHERE STAN = '3'");
    EXPECT_EQ(Refusal(Cancel("POS00001", "C4", "3")), W("Tehing on juba tühistatud!"));
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(Cancels, TheOriginalIsReadWithoutTrailingBlanks)
{
    QSqlQuery(Db_Database()).exec("UPDATE Trans SET PAN = PAN || '   ', STAN = STAN || ' ' WHERE STAN = '2'");
    ASSERT_EQ(Cancel("POS00009", "C1", "2 ").AnswerType, wsApproval);
    EXPECT_EQ(Rows("Type = 1 AND PAN = '400000******7899' AND OrigSTAN = '2'"), 1);
}

TEST_F(Cancels, TheReceiptNamesTheOriginalsNumberWhateverTheResponseEchoes)
{
    // The card centre echoes element 11, the cancellation's own number, as it does for every request.
    centre.onFrame = [this](Centre& c, const std::string& f) {
        requests.push_back(f);
        c.Send(KK_Frame(Type(410) + std::string("\0\x20\0\0\x06\0\0\0", 8) + KK_FormatField(2, 6, true, "000004") +
                        KK_FormatField(4, 6, true, "R1R2R3") + "00"));
    };
    Cfg_Put("PrintReversal", "{OrigSTAN};/;{Number};/;{AuthCode}");
    ASSERT_EQ(Cancel("POS00009", "C1", "2").AnswerType, wsApproval);
    const auto print = std::find_if(reg.got.begin(), reg.got.end(), [](const auto& p) { return p.RequestType == wsPrint; });
    ASSERT_NE(print, reg.got.end());
    EXPECT_NE(print->RequestData.find("2/4/R1R2R3"), std::string::npos) << print->RequestData;
}

// A reversal is recorded as pending before it leaves. A decline drops it; one that never got an
// answer stays pending (the card centre may have reversed the purchase) and keeps its purchase out
// of every file, until the repeat (0401) gets the verdict.
TEST_F(Cancels, AReversalWithoutItsVerdictStaysPendingUntilTheRepeatGetsOne)
{
    verdict = "12";
    EXPECT_EQ(Refusal(Cancel("POS00001", "C1", "2")), "Viga nr. 12 - " + KK_ResponseText(12));
    EXPECT_EQ(Rows("Type = 1"), 0);

    verdict = kSilent;
    EXPECT_EQ(Refusal(Cancel("POS00001", "C2", "2")), W("Ei õnnestunud kaardikeskusega ühendust luua!"));
    EXPECT_EQ(Rows("Type = 1 AND Pending <> 0"), 1);
    EXPECT_EQ(Db_UnsentCount(), 2);   // the two purchases; the pending reversal is no transaction yet
    // While it is pending the purchase is not reversed again, and goes in no file.
    EXPECT_EQ(Refusal(Cancel("POS00001", "C3", "2")), W("Tehing on juba tühistatud!"));
    TransSet set;
    set.open("iSentToojaamPAN");
    set.onlyReadyToSend();
    ASSERT_TRUE(set.seek(">=", {false, "", ""}));
    EXPECT_EQ(set.record().STAN, "3");
    EXPECT_FALSE(set.moveNext());

    // Still silent: it stays. Then the card centre answers the repeat, and the row is completed.
    requests.clear();
    EXPECT_EQ(Finish(Trans_FinishPendingCancellations()), 0);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().substr(0, 2), Type(401));
    verdict = "00";
    requests.clear();
    EXPECT_EQ(Finish(Trans_FinishPendingCancellations()), 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests.front().substr(0, 2), Type(401));
    EXPECT_EQ(Rows("Type = 1 AND Pending = 0 AND Trans = 'C2' AND OrigSTAN = '2'"), 1);
    EXPECT_EQ(Finish(Trans_FinishPendingCancellations()), 0);

    // A second one, declined at its repeat: the purchase stands.
    verdict = kSilent;
    EXPECT_EQ(Refusal(Cancel("POS00001", "C4", "3")), W("Ei õnnestunud kaardikeskusega ühendust luua!"));
    verdict = "05";
    EXPECT_EQ(Finish(Trans_FinishPendingCancellations()), 1);
    EXPECT_EQ(Rows("Trans = 'C4'"), 0);
}

TEST_F(Cancels, ATraceNumberThatCannotBeSavedGoesNowhere)
{
    // registry.ini cannot be written (the disk is full): the counter reads as it was and would hand
    // out STAN 4 again to whoever asks next.
    reg.answers = {"7899"};
    FullDisk full;
    EXPECT_EQ(Refusal(Run(Purchase("00000031"))), W("Tehingu numbrit ei õnnestunud salvestada!"));
    EXPECT_EQ(Refusal(Cancel("POS00001", "C1", "3")), W("Tehingu numbrit ei õnnestunud salvestada!"));
    full.Free();
    EXPECT_EQ(Err_Record(Err_Index()).message, "Viga konf.-faili kirjutamisel");
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(reg.Count(wsInfo), 0);   // the register was not asked for the card either
}

TEST(OriginalData, FortyTwoDigitsOfTheOriginal)
{
    QTemporaryDir home;
    UseTestHome(home.path());
    Cfg_Put("AutoriseerijaID", "1234");
    TransRecord o;
    o.STAN = "57";
    o.Date = 19990705;
    o.Time = 93015;
    EXPECT_EQ(Trans_OriginalData(o), "010000005707050930150000000123400000000000");
    // Past a million the original's number is its rightmost six digits, as its element 11 went.
    o.STAN = "1000057";
    EXPECT_EQ(Trans_OriginalData(o), "010000005707050930150000000123400000000000");
}

// The trace number counter beside `tollan config set`, which the guide has the operator run while
// the terminal works: two processes saving the same registry.ini again and again.
TEST(TraceNumbers, NoneRepeatsAndNoSettingIsLostWhileConfigSetSavesTheSameFile)
{
#ifndef TOLLAN_EXE
    GTEST_SKIP() << "built without the tollan program";
#else
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    UseTestHome(home.path());
    ASSERT_TRUE(Cfg_Put("NextNumber", "1000"));
    constexpr int kSets = 40;
    QProcess other;  // one `tollan config set` after another, each a process of its own
    other.start("sh", {"-c",
                       "i=0; while [ $i -lt $2 ]; do \"$0\" --home \"$1\" config set --force \"Set$i\" \"value $i\" || exit 1; "
                       "i=$((i+1)); done",
                       TOLLAN_EXE, home.path(), QString::number(kSets)});
    ASSERT_TRUE(other.waitForStarted());
    std::int32_t last = 1000;
    do {
        bool saved = false;
        const std::int32_t n = Trans_NextStan(&saved);
        ASSERT_TRUE(saved);
        ASSERT_EQ(n, last + 1);  // a number the other's save took back would come again
        last = n;
        // A purchase talks to the register and the card centre between two numbers; one that took
        // the lock back at once would keep `config set` waiting past its bound.
    } while (!other.waitForFinished(1));
    ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    EXPECT_EQ(Cfg_Lookup("NextNumber", ""), std::to_string(last));
    for (int i = 0; i < kSets; ++i)
        EXPECT_EQ(Cfg_Lookup("Set" + std::to_string(i), "lost"), "value " + std::to_string(i)) << i;
    std::printf("%d trace numbers beside %d saves of `config set`\n", last - 1000, kSets);
#endif
}

TEST(TraceNumbers, ANumberSetElsewhereWhileOursIsTakenIsCountedOn)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    UseTestHome(home.path());
    ASSERT_TRUE(Cfg_Put("NextNumber", "5"));
    // `config set NextNumber 100` by hand, saved while our count waits for the lock.
    QProcess other;
    HoldTheRegistryLock(other, home.path(),
                              "sleep 0.5; " + SaveRegistryCommand("[SOFTWARE\\Valdrin\\Tollan]\nNextNumber=100\n"));
    bool saved = false;
    EXPECT_EQ(Trans_NextStan(&saved), 101);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(other.waitForFinished(5000));
    EXPECT_EQ(Cfg_Lookup("NextNumber", ""), "101");
}

} // namespace
