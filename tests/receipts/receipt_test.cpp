#include "receipts/receipt.h"

#include "receipts/template.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/text.h"
#include "workstation/dispatch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <vector>

using namespace tollan;

namespace {

// What a register does with a print request: answer with a text, stay silent, or hang up.
struct Answer {
    enum Kind { text, silent, hangUp } kind = text;
    std::string value;
};

// Registers in memory: the packets each was sent, and the answers it gives to print requests,
// arriving from the event loop as a type-8 answer does.
struct Registers {
    std::map<int, bool> connected;
    std::map<int, std::string> tags;
    std::vector<std::pair<int, std::string>> sent;
    std::deque<Answer> answers;

    void Reply(int r, const std::string& bytes)
    {
        sent.emplace_back(r, bytes);
        if (answers.empty())
            return;
        const Answer a = answers.front();
        answers.pop_front();
        QTimer::singleShot(5, [this, r, a] {
            if (a.kind == Answer::text)
                tags[r] = a.value;
            else if (a.kind == Answer::hangUp)
                connected[r] = false;
        });
    }
};

class Receipts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        Cfg_Reset();
        Cfg_SetRoot(kCfgRoot);
        Err_Clear();
        saved = Text_Forms();
        Text_Forms() = {"dd.mm.yyyy", "hh:nn:ss", ',', ' '};   // et_EE
        WS_SetRequesters({
            [this](int r) { return regs.connected[r] ? kRequesterConnected : 0; },
            [this](int r, const std::string& b) { regs.Reply(r, b); },
            [this](int r) { return &regs.tags[r]; },
        });
        regs.connected[3] = true;
    }
    void TearDown() override
    {
        WS_SetRequesters({});
        Text_Forms() = saved;
        Cfg_Reset();
    }

    WorkstationPacket Sent(std::size_t i)
    {
        std::string bytes = regs.sent.at(i).second;
        WorkstationPacket p;
        EXPECT_EQ(WS_DecodePacket(bytes, p), static_cast<int>(regs.sent.at(i).second.size()));
        return p;
    }

    QTemporaryDir home;
    TextForms saved;
    Registers regs;
    TestClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 5, 2)), 20};
    ClockScope scope{clock};
};

WorkstationPacket Request()
{
    WorkstationPacket r;
    r.Workstation = "POS00003";
    r.WorkstationTrans = "0000A042";
    r.Word2 = 17;
    r.Word20 = 5;
    r.Requester = 3;
    r.RequestType = wsPurchase;
    r.RequestData = "request";
    r.AnswerType = wsError;
    r.AnswerData = "preset";
    return r;
}

TransRecord Purchase()
{
    TransRecord t;
    t.Type = 0;
    t.PAN = "4921000000000008";
    t.WayOfUse = 1;
    t.Amount = 125000;
    t.Date = 20261206;
    t.Time = 143059;
    t.AuthCode = "A1B2C3";
    t.POSCode = 1;
    t.ExpDate = 2701;
    t.STAN = "42";
    t.Track2 = "4921000000000008=2701101";
    t.Toojaam = "POS00003";
    t.Trans = "0000A042";
    return t;
}

std::string Receipt(const std::string& pan)
{
    return "\r\n"
           "Kohvik \xD5un\r\n"
           "P\xE4rnu mnt 5, II korrus, Tallinn\r\n"
           "Reg. nr.: 10203040\r\n"
           "\r\n"
           "KVIITUNG NR. 42\r\n"
           "Kassa: 003  Kuup: 06.12.2026 14:30:59\r\n"
           "Kaart nr. " + pan + "\r\n"
           "Kehtivusaeg: 01/27\r\n"
           "Autoris. nr. A1B2C3\r\n"
           "\r\n"
           "Summa: 12,5\r\n"
           "\r\n"
           "Dokument: \r\n"
           "\r\n"
           "Allkiri: \r\n"
           "\r\n";
}

} // namespace

TEST_F(Receipts, TwoCopiesFullThenMaskedEachAPrintRequestWithTheRequestHeader)
{
    Cfg_Put("FirmaNimi", "Kohvik \xD5un");
    // A ";" would end the value in the receipt's parameter list.
    Cfg_Put("FirmaT\xE4nav", "P\xE4rnu mnt 5; II korrus");
    Cfg_Put("FirmaLinn", "Tallinn");
    Cfg_Put("FirmaRegNr", "10203040");
    regs.answers = {{Answer::text, "1"}, {Answer::text, "1"}};

    EXPECT_TRUE(Receipt_Print(3, Request(), Purchase(), ""));

    ASSERT_EQ(regs.sent.size(), 2u);
    const std::string copies[] = {Receipt("4921000000000008"), Receipt("************0008")};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(regs.sent[i].first, 3);
        const WorkstationPacket p = Sent(i);
        EXPECT_EQ(p.RequestType, wsPrint);
        EXPECT_EQ(p.Workstation, "POS00003");
        EXPECT_EQ(p.WorkstationTrans, "0000A042");
        EXPECT_EQ(p.Word2, 17);
        EXPECT_EQ(p.Word20, 5);
        EXPECT_EQ(p.RequestData, copies[i]) << i;
    }
    EXPECT_EQ(regs.tags[3], "");   // the dialogue slot is free again
}

TEST_F(Receipts, EachCopyCountsOnItsOwnAnswerAndTheSecondIsAlwaysSent)
{
    struct Case { const char* what; Answer first, second; bool printed; } cases[] = {
        {"both printed", {Answer::text, "1"}, {Answer::text, "-1"}, true},
        {"first refused", {Answer::text, "0"}, {Answer::text, "1"}, false},
        {"second refused", {Answer::text, "1"}, {Answer::text, "0"}, false},
        {"not a number", {Answer::text, "Jah"}, {Answer::text, "1"}, false},
        {"first silent", {Answer::silent, ""}, {Answer::text, "1"}, false},
        {"both silent", {Answer::silent, ""}, {Answer::silent, ""}, false},
        {"hung up", {Answer::hangUp, ""}, {Answer::text, "1"}, false},
    };
    for (const auto& c : cases) {
        regs.sent.clear();
        regs.connected[3] = true;
        regs.answers = {c.first, c.second};
        const auto t0 = Clock_Ms();
        EXPECT_EQ(Receipt_Print(3, Request(), Purchase(), ""), c.printed) << c.what;
        // The register that hung up gets nothing more; every other gets both copies.
        const std::size_t copies = c.first.kind == Answer::hangUp ? 1u : 2u;
        EXPECT_EQ(regs.sent.size(), copies) << c.what;
        if (c.first.kind == Answer::silent)   // "Timeout\Workstation" defaults to 120 seconds
            EXPECT_GE(Clock_Ms() - t0, 120000) << c.what;
        else
            EXPECT_LT(Clock_Ms() - t0, 120000) << c.what;
    }
}

TEST_F(Receipts, ValuesOfTheTransaction)
{
    Cfg_Put("FirmaRegNr", "10203040555");
    Cfg_Put("CardType\\492100", "Visa Electron");
    const TransRecord t = Purchase();
    const std::string v = Receipt_Values(t, "000017");
    struct Case { const char* name; std::string value; } cases[] = {
        {"Name", ""},
        {"Address", ", "},
        {"RegNr", "10203040555"},
        {"Amount", "12,5"},
        {"Date", "06.12.2026"},
        {"Time", "14:30:59"},
        {"PANhidden", "************0008"},
        {"PANfull", "4921000000000008"},
        {"PAN", "4921000000000008"},
        {"CardType", "Visa Electron"},
        {"ExpDate", "01.01.2027"},
        {"AuthCode", "A1B2C3"},
        {"POS", "003"},
        {"Number", "42"},
        {"Terminal", "102030405003"},
        {"OrigSTAN", "000017"},
        {"T", "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Param_Get(v, c.name), c.value) << c.name;
}

TEST_F(Receipts, ValuesOfUnusualTransactions)
{
    struct Case { TransRecord t; const char* name; std::string value; } cases[] = {
        {[] { auto t = Purchase(); t.Date = 0; t.Time = 0; return t; }(), "Date", "07.12.2026"},   // today
        {[] { auto t = Purchase(); t.Amount = 0; return t; }(), "Amount", "0"},
        {[] { auto t = Purchase(); t.Amount = -50000; return t; }(), "Amount", "-5"},
        {[] { auto t = Purchase(); t.Amount = 12345678901234; return t; }(), "Amount", "1234567890,1234"},
        {[] { auto t = Purchase(); t.PAN = "1234"; return t; }(), "PANhidden", "1234"},
        {[] { auto t = Purchase(); t.PAN = "12345"; return t; }(), "PANhidden", "*2345"},
        {[] { auto t = Purchase(); t.PAN = ""; return t; }(), "PANhidden", ""},
        {[] { auto t = Purchase(); t.PAN = "1234567890123456"; return t; }(), "PANhidden", "************3456"},
        {[] { auto t = Purchase(); t.Toojaam = "7"; return t; }(), "POS", "7"},
        {[] { auto t = Purchase(); t.AuthCode = "12;PAN=1"; return t; }(), "PAN", "4921000000000008"},
        {[] { auto t = Purchase(); t.AuthCode = "12;PAN=1"; return t; }(), "AuthCode", "12,PAN=1"},
        {[] { auto t = Purchase(); t.POSCode = -3; return t; }(), "T", "-3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Param_Get(Receipt_Values(c.t, ""), c.name), c.value) << c.name << " " << c.value;
}

TEST_F(Receipts, CardTypeIsLookedUpOnlyByDigits)
{
    TransRecord t = Purchase();
    t.PAN = "49\\21]=;x";
    EXPECT_EQ(Param_Get(Receipt_Values(t, ""), "CardType"), "");
    t.PAN = "4921000000000008";
    EXPECT_EQ(Param_Get(Receipt_Values(t, ""), "CardType"), "");
    QFile f(home.filePath("registry.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    EXPECT_TRUE(ini.contains("[SOFTWARE\\Valdrin\\Tollan\\CardType]")) << ini.constData();
    EXPECT_TRUE(ini.contains("492100=")) << ini.constData();
    EXPECT_FALSE(ini.contains("49\\21")) << ini.constData();
}

TEST_F(Receipts, TypedInCardAndTelephoneCodeAreMarked)
{
    const std::string manual = " (k\xE4sitsi)";
    struct Case { std::int16_t posCode; std::string pan, auth; } cases[] = {
        {0, manual, ""},       // keyed in, authorised by the card centre
        {1, "", ""},           // read from the card
        {2, manual, manual},   // keyed in, code by telephone
        {3, "", manual},       // read from the card, code by telephone
    };
    const char* lines = "Kaart nr. ;{PAN};{PANManual};%0D%0A;Autoris. nr. ;{AuthCode};{AuthManual};";
    for (const auto& c : cases) {
        TransRecord t = Purchase();
        t.POSCode = c.posCode;
        EXPECT_EQ(Tpl_Render(lines, Receipt_Values(t, "")),
                  "Kaart nr. 4921000000000008" + c.pan + "\r\nAutoris. nr. A1B2C3" + c.auth) << c.posCode;
    }
}

TEST_F(Receipts, ExpiryShowsAsMonthAndYear)
{
    struct Case { std::int16_t exp; const char* shown; } cases[] = {
        {9912, "12/99"}, {2701, "01/27"}, {312, "12/03"}, {3012, "12/30"},
    };
    for (const auto& c : cases) {
        TransRecord t = Purchase();
        t.ExpDate = c.exp;
        EXPECT_EQ(Tpl_Render("{ExpDate}[mm/yy]", Receipt_Values(t, "")), c.shown) << c.exp;
    }
}

TEST_F(Receipts, TemplateOfTheWorkstationThenTheGeneralOneThenTheBuiltIn)
{
    struct Case { const char* toojaam; std::int16_t type; std::string tpl; } cases[] = {
        {"POS00001", 0, "own purchase"},
        {"POS00002", 0, std::string(kBuiltinReceipt)},
        {"POS00001", 1, std::string(kBuiltinReceipt)},
        {"POS00002", 1, std::string(kBuiltinReceipt)},
    };
    Cfg_Put("POS001\\PrintSuccess", "own purchase");
    for (const auto& c : cases) {
        TransRecord t = Purchase();
        t.Toojaam = c.toojaam;
        t.Type = c.type;
        EXPECT_EQ(Receipt_Template(t), c.tpl) << c.toojaam << " " << c.type;
    }
    Cfg_Put("PrintSuccess", "general purchase");
    Cfg_Put("PrintReversal", "general reversal");
    Cfg_Put("POS002\\PrintReversal", "own reversal");
    struct Case2 { const char* toojaam; std::int16_t type; const char* tpl; } after[] = {
        {"POS00001", 0, "own purchase"},
        {"POS00002", 0, "general purchase"},
        {"POS00001", 1, "general reversal"},
        {"POS00002", 1, "own reversal"},
        {"POS00002", 3, "own reversal"},
    };
    for (const auto& c : after) {
        TransRecord t = Purchase();
        t.Toojaam = c.toojaam;
        t.Type = c.type;
        EXPECT_EQ(Receipt_Template(t), c.tpl) << c.toojaam << " " << c.type;
    }

    // The template chosen is the one printed.
    regs.answers = {{Answer::text, "1"}, {Answer::text, "1"}};
    Cfg_Put("POS003\\PrintSuccess", "{Number}:6/R;%0D%0A;{PAN}");
    EXPECT_TRUE(Receipt_Print(3, Request(), Purchase(), ""));
    ASSERT_EQ(regs.sent.size(), 2u);
    EXPECT_EQ(Sent(0).RequestData, "    42\r\n4921000000000008");
    EXPECT_EQ(Sent(1).RequestData, "    42\r\n************0008");
}

TEST_F(Receipts, ReceiptLongerThanAPacketIsReportedNotSent)
{
    Cfg_Put("PrintSuccess", "{Number}:32767;{Number}:32767");
    regs.answers = {{Answer::text, "1"}, {Answer::text, "1"}};
    EXPECT_FALSE(Receipt_Print(3, Request(), Purchase(), ""));
    EXPECT_TRUE(regs.sent.empty());
    EXPECT_EQ(Err_Record(Err_Index()).message, "Kviitungi tr\xFCkk");
}

TEST_F(Receipts, NobodyToPrintFor)
{
    EXPECT_FALSE(Receipt_Print(-10, Request(), Purchase(), ""));
    EXPECT_FALSE(Receipt_Print(5, Request(), Purchase(), ""));   // not connected
    EXPECT_TRUE(regs.sent.empty());
}
