// The everyday purchase and cancellation, a restart between them, and several registers at once.
#include "tests/common/shop.h"

namespace {

using namespace tollan::test;

class Everyday : public Shop {
protected:
    void SetUp() override
    {
        Shop::SetUp();
        StartCentre({"--rule", "pan=4111 decline 5"});
        StartTerminal();
    }
};

TEST_F(Everyday, PurchasesCancellationsAndARestartAsTheRegisterAndTheCardCentreSeeThem)
{
    std::string seen;
    // Approved: prompts answered, two receipts printed, type 22.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50", "--item",
                                   "1001;Leib;2;3.25", "--item", "1002;Piim;1;6"} + kCard, &seen), 0);
    EXPECT_NE(seen.find("Kaardi kontroll..."), std::string::npos);
    EXPECT_NE(seen.find("Kaart nr. 4000001234567899\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Kaart nr. ************7899\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("22 approved: "), std::string::npos) << seen;
    EXPECT_NE(seen.find(" amount 12.50 items 2 ["), std::string::npos) << seen;  // the items echoed
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000001250 stan=000002"));

    // Declined by the card centre: the refusal with its code, nothing stored.
    EXPECT_EQ(Register({"--workstation", "POS00002", "--trans", "00000002", "--amount", "5", "--card",
                        "4111111111111111=28121010000012300000", "--answer", "1111"}, &seen), 1);
    EXPECT_NE(seen.find("0 refused 32: Viga nr. 05 - Puudub müügiluba"), std::string::npos) << seen;
    // ...and the operator sees the verdict at the terminal.
    EXPECT_TRUE(Lines(home.filePath("tollan.err")).join('\n').contains("Puudub müügiluba"));

    // The terminal restarted between steps keeps its rows and its STAN counter.
    StopTerminal();
    StartTerminal();
    EXPECT_EQ(Register({"--workstation", "POS00003", "--trans", "00000009", "--cancel", "2"}, &seen), 0);
    EXPECT_TRUE(centre->WaitFor("auth 0400"));
    EXPECT_EQ(Rows("SELECT Type, PAN, Amount, STAN, Toojaam, Trans, AuthCode, sent FROM Trans ORDER BY rowid"),
              (QStringList{"0|4000001234567899|12.5|2|POS00001|00000001|123456|0",
                           "1|4000001234567899|12.5|4|POS00003|00000009|123456|0"}));
    // With "AllowManualPAN" never set, a card number keyed in is taken (POS code 0).
    EXPECT_EQ(Register({"--workstation", "POS00003", "--trans", "00000010", "--amount", "1", "--card",
                        "4000001234567899=28121010000012300000", "--entry", "1", "--answer", "7899"}, &seen), 0) << seen;
    EXPECT_EQ(Rows("SELECT POSCode FROM Trans WHERE Trans = '00000010'"), QStringList{"0"});
    // A register repeating a request number is refused before the card centre hears of it.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "1"} + kCard, &seen), 1);
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"3"});
}

TEST_F(Everyday, SeveralRegistersAtOnceAreAllAnswered)
{
    std::string seen;
    EXPECT_EQ(Register({"--count", "8", "--workstation", "POS00001", "--query", "4000001234567899", "--quiet"}, &seen), 3);
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message LIKE 'vigane%'"), QStringList{"0"});
}

} // namespace
