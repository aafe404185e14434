#include "receipts/receipt.h"

#include "protocol/messages.h"
#include "protocol/transfile.h"
#include "tests/receipts/suite.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "dialogues/merchant.h"
#include "dialogues/transfile_build.h"
#include "tests/common/register.h"
#include "tests/common/tasks.h"
#include "tests/common/test_home.h"
#include "workstation/dispatch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <map>
#include <vector>

using namespace tollan::test;

namespace {

WorkstationPacket Request();
TransRecord Purchase();

class Receipts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        saved = Text_Forms();
        Text_Forms() = {"dd.mm.yyyy", "hh:nn:ss", ',', ' '};   // et_EE
        regs.Connect(3);
    }
    void TearDown() override
    {
        Text_Forms() = saved;
        Cfg_Reset();
    }

    WorkstationPacket Sent(std::size_t i) { return regs.got.at(i); }
    bool Print(int requester, const TransRecord& t = Purchase())
    {
        return Finish(Receipt_Print(regs[requester], Request(), t, ""));
    }

    QTemporaryDir home;
    TextForms saved;
    FakeRegisters regs;
    TestClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 5, 2)), 20};
    ClockScope scope{clock};
};

WorkstationPacket Request()
{
    return {.Workstation = "POS00003", .WorkstationTrans = "0000A042", .Word2 = 17, .Word20 = 5,
            .RequestType = wsPurchase, .RequestData = "request", .AnswerType = wsError, .AnswerData = "preset",
            .Requester = 3, .AnswerText = {}};
}

TransRecord Purchase()
{
    TransRecord t;
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

} // namespace

TEST_F(Receipts, TwoMaskedCopiesEachAPrintRequestWithTheRequestHeaderOfTheTemplateChosen)
{
    Cfg_Put("FirmaNimi", "Kohvik \xD5un");
    // A ";" would end the value in the receipt's parameter list.
    Cfg_Put("FirmaT\xE4nav", "P\xE4rnu mnt 5; II korrus");
    Cfg_Put("FirmaLinn", "Tallinn");
    Cfg_Put("FirmaRegNr", "10203040");
    // The Estonian forms as the desktop has them and as Qt has them: the date goes into the values
    // in the short form and is read back from it.
    struct Forms { std::string shortDate, date; } forms[] = {{"dd.mm.yyyy", "06.12.2026"}, {"dd.mm.yy", "06.12.26"}};
    for (const auto& f : forms) {
        Text_Forms().shortDate = f.shortDate;
        regs.got.clear();
        regs.printAnswers = {"1", "1"};
        EXPECT_TRUE(Print(3));
        ASSERT_EQ(regs.got.size(), 2u);
        // The layout is the built-in template's (template_test); here the values that fill it.
        const std::string first = Sent(0).RequestData;
        EXPECT_NE(first.find("\r\nP\xE4rnu mnt 5, II korrus, Tallinn\r\n"), std::string::npos) << first;
        EXPECT_NE(first.find("Kassa: 003  Kuup: " + f.date + " 14:30:59\r\nKaart nr. 492100******0008\r\n"),
                  std::string::npos) << first;
        EXPECT_EQ(Sent(1).RequestData, first);
        for (std::size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(f.shortDate + " copy " + std::to_string(i));
            const WorkstationPacket p = Sent(i);
            EXPECT_EQ(p.Requester, 3);
            EXPECT_EQ(std::tuple(p.RequestType, p.Workstation, p.WorkstationTrans, p.Word2, p.Word20),
                      std::tuple(std::int16_t(wsPrint), std::string("POS00003"), std::string("0000A042"), std::int16_t(17), std::int16_t(5)));
        }
        EXPECT_FALSE(regs[3].asking());
    }

    // The template is the workstation's own, then the general one, then the built-in one.
    const std::string builtin(kBuiltinReceipt);
    struct Case { const char* toojaam; std::int16_t type; std::string before, after; } cases[] = {
        {"POS00001", 0, "own purchase", "own purchase"}, {"POS00002", 0, builtin, "general purchase"},
        {"POS00001", 1, builtin, "general reversal"}, {"POS00002", 3, builtin, "own reversal"},
    };
    Cfg_Put("POS001\\PrintSuccess", "own purchase");
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : cases) {
            TransRecord t = Purchase();
            t.Toojaam = c.toojaam;
            t.Type = c.type;
            EXPECT_EQ(Receipt_Template(t), pass == 0 ? c.before : c.after) << c.toojaam << " " << c.type;
        }
        Cfg_Put("PrintSuccess", "general purchase");
        Cfg_Put("PrintReversal", "general reversal");
        Cfg_Put("POS002\\PrintReversal", "own reversal");
    }
    // The template chosen is the one printed.
    regs.got.clear();
    regs.printAnswers = {"1", "1"};
    // {PANfull}, the shop's choice, prints the whole number on both copies.
    Cfg_Put("POS003\\PrintSuccess", "{Number}:6/R;%0D%0A;{PAN}; ;{PANfull}");
    EXPECT_TRUE(Print(3));
    ASSERT_EQ(regs.got.size(), 2u);
    EXPECT_EQ(Sent(0).RequestData, "    42\r\n492100******0008 4921000000000008");
    EXPECT_EQ(Sent(1).RequestData, Sent(0).RequestData);
    // A receipt longer than a packet is reported, not sent.
    regs.got.clear();
    Cfg_Put("POS003\\PrintSuccess", "{Number}:32767;{Number}:32767");
    EXPECT_FALSE(Print(3));
    EXPECT_TRUE(regs.got.empty());
    EXPECT_EQ(Err_Record(Err_Index()).message, "Kviitungi tr\xFCkk");
}

TEST_F(Receipts, EachCopyCountsOnItsOwnAnswerAndTheSecondIsAlwaysSent)
{
    struct Case { const char* what; Answer first, second; bool printed; } cases[] = {
        {"both printed", "1", {Answer::text, "-1"}, true},
        {"first refused", {Answer::text, "0"}, "1", false},
        {"second refused", "1", {Answer::text, "0"}, false},
        {"not a number", {Answer::text, "Jah"}, "1", false},
        {"first silent", {Answer::silent, ""}, "1", false},
        {"both silent", {Answer::silent, ""}, {Answer::silent, ""}, false},
        {"hung up", {Answer::hangUp, ""}, "1", false},
    };
    for (const auto& c : cases) {
        regs.got.clear();
        regs.Connect(3);
        regs.printAnswers = {c.first, c.second};
        const auto t0 = Clock_Ms();
        EXPECT_EQ(Print(3), c.printed) << c.what;
        // The register that hung up gets nothing more; every other gets both copies.
        const std::size_t copies = c.first.kind == Answer::hangUp ? 1u : 2u;
        EXPECT_EQ(regs.got.size(), copies) << c.what;
        if (c.first.kind == Answer::silent)   // "Timeout\Workstation" defaults to 120 seconds
            EXPECT_GE(Clock_Ms() - t0, 120000) << c.what;
        else
            EXPECT_LT(Clock_Ms() - t0, 120000) << c.what;
    }
    regs.got.clear();
    EXPECT_FALSE(Print(5));     // not connected
    EXPECT_TRUE(regs.got.empty());
}

TEST_F(Receipts, ValuesOfTheTransactionAndNamesMadeFromTheWireAreOnlyRead)
{
    Cfg_Put("FirmaRegNr", "10203040555");
    Cfg_Put("CardType\\492100", "Visa Electron");
    Cfg_Put("FirmaPostiindeks", "10115");
    const std::string manual = " (k\xE4sitsi)";
    using Edit = void (*)(TransRecord&);
    struct Case { const char* name; std::string value; Edit edit = nullptr; } cases[] = {
        {"Name", ""}, {"Address", ", "}, {"Zip", "10115"}, {"RegNr", "10203040555"}, {"Amount", "12,50"}, {"Date", "06.12.2026"},
        {"Time", "14:30:59"}, {"PANhidden", "492100******0008"}, {"PAN", "492100******0008"}, {"PANfull", "4921000000000008"},
        {"CardType", "Visa Electron"}, {"ExpDate", "01.01.2027"},
        {"AuthCode", "A1B2C3"}, {"POS", "003"}, {"Number", "42"}, {"Terminal", "102030405003"},
        {"OrigSTAN", "000017"}, {"T", "1"},
        {"Date", "07.12.2026", [](TransRecord& t) { t.Date = 0; }},   // today
        {"Amount", "-5,00", [](TransRecord& t) { t.Amount = -50000; }},
        {"Amount", "1234567890,12", [](TransRecord& t) { t.Amount = 12345678901234; }},   // money: two decimals
        {"PANhidden", "1234", [](TransRecord& t) { t.PAN = "1234"; }},
        {"PANhidden", "*2345", [](TransRecord& t) { t.PAN = "12345"; }},
        {"PANhidden", "123456******3456", [](TransRecord& t) { t.PAN = "1234567890123456"; }},
        {"PANhidden", "******7890", [](TransRecord& t) { t.PAN = "1234567890"; }},
        {"POS", "7", [](TransRecord& t) { t.Toojaam = "7"; }},
        // A ";" in a value would end it, and what follows would read as another value.
        {"PAN", "492100******0008", [](TransRecord& t) { t.AuthCode = "12;PAN=1"; }},
        {"AuthCode", "12,PAN=1", [](TransRecord& t) { t.AuthCode = "12;PAN=1"; }},
        // Only digits name a card type: the card number comes from the register.
        {"CardType", "", [](TransRecord& t) { t.PAN = "49\\21]=x"; }},
        // POS code 1: read from the card, authorised by the card centre; 0 and 2 keyed in, 2 and 3 by telephone.
        {"PANManual", ""}, {"AuthManual", ""},
        {"PANManual", manual, [](TransRecord& t) { t.POSCode = 0; }}, {"AuthManual", "", [](TransRecord& t) { t.POSCode = 0; }},
        {"PANManual", manual, [](TransRecord& t) { t.POSCode = 2; }}, {"AuthManual", manual, [](TransRecord& t) { t.POSCode = 2; }},
        {"PANManual", "", [](TransRecord& t) { t.POSCode = 3; }}, {"AuthManual", manual, [](TransRecord& t) { t.POSCode = 3; }},
        {"ExpDate", "01.12.2003", [](TransRecord& t) { t.ExpDate = 312; }},
    };
    for (const auto& c : cases) {
        TransRecord t = Purchase();
        if (c.edit)
            c.edit(t);
        EXPECT_EQ(Param_Get(Receipt_Values(t, "000017"), c.name), c.value) << c.name << " " << c.value;
    }

    // A register's code and a card's prefix come from the register: a setting named after either,
    // when absent, must leave registry.ini as it was, or each new one would stay in it for good.
    using LookUp = void (*)(const TransRecord&);
    struct Named { const char* what; LookUp lookUp; } named[] = {
        {"POSnnn\\Tegevusala", [](const TransRecord& t) { KK_PosSetting(t.Toojaam, "Tegevusala", "0000"); }},
        {"POSnnn\\PrintSuccess", [](const TransRecord& t) { Receipt_Template(t); }},
        {"SenderID\\prefix, POSnnn\\FirmaTunnus", [](const TransRecord& t) { KK_SenderId(t.PAN.substr(0, 6), t.Toojaam); }},
        {"CardType\\prefix", [](const TransRecord& t) { Receipt_Values(t, ""); }},
    };
    for (const auto& c : named) {
        TransRecord t = Purchase();
        c.lookUp(t);  // the settings of fixed names it reads are written back with their defaults
        QFile f(home.filePath("registry.ini"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        t.Toojaam = "POS00077";
        t.PAN = "5100000000000008";
        c.lookUp(t);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before) << c.what;
    }
}
