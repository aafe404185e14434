// Purchases and cancellations that do not end in a plain approval: the checks before the card
// centre, the telephone authorisation when the card centre is silent, and cancellations found by
// the register's own transaction number.
#include "tests/common/shop.h"

namespace {

using namespace tollan::test;

class Purchases : public Shop {
protected:
    void SetUp() override
    {
        Shop::SetUp();
        Config("AllowManualPAN", "0");
        Config("TimeOut\\Auth", "1");  // the repeat is waited for one second, not a minute
        StartCentre({"--rule", "pan=4222 silent"});
        StartTerminal();
    }
};

TEST_F(Purchases, RefusedBeforeTheCardCentreHearsOfThemYetEachTakesAStan)
{
    std::string seen;
    EXPECT_EQ(Register({"--trans", "00000001", "--amount", "1", "--card", "4000001234567899=20011010000012300000",
                        "--answer", "7899"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Kaart on kehtivusaja ületanud!")) << seen;

    EXPECT_EQ(Register({"--trans", "00000002", "--amount", "1", "--card", "4000001234567899=28121010000012300000",
                        "--entry", "1", "--answer", "7899"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Kaardinumbrit pole lubatud käsitsi sisestada!")) << seen;

    // The cashier gives no answer to the card-present prompt: the request is left unfinished.
    EXPECT_EQ(Register(QStringList{"--trans", "00000003", "--amount", "1", "--card",
                                   "4000001234567899=28121010000012300000", "--answer", ""}, &seen), 2);
    EXPECT_TRUE(Has(seen, "2 unfinished 1")) << seen;

    // Digits that match neither the card number nor the expiry: the text arrives cut to 50 characters.
    EXPECT_EQ(Register({"--trans", "00000004", "--amount", "1", "--card", "4000001234567899=28121010000012300000",
                        "--answer", "01234"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Sisestatud numbrid erinevad kaardi magnetrajal ole\n")) << seen;

    EXPECT_FALSE(centre->Printed("auth")) << centre->out;
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"0"});

    // Kind 3 is a purchase too, stored as type 0; the four refusals above took STANs 2 to 5.
    EXPECT_EQ(Register(QStringList{"--trans", "00000005", "--amount", "2.30", "--kind", "3"} + kCard, &seen), 0) << seen;
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000000230 stan=000006"));
    EXPECT_EQ(Rows("SELECT Type, STAN, Trans, POSCode FROM Trans"), QStringList{"0|6|00000005|1"});
    StopTerminal();
    EXPECT_EQ(Setting("NextNumber"), "6");
}

TEST_F(Purchases, TheCashierAuthorisesByTelephoneWhenTheCardCentreIsSilent)
{
    const QStringList card = {"--card", "4222000000000005=28121010000012300000", "--answer", "0005"};
    std::string seen;
    EXPECT_EQ(Register(QStringList{"--trans", "00000011", "--amount", "7"} + card + QStringList{"--answer", "87654321"}, &seen), 0);
    // The request and its repeat went unanswered, then the cashier was asked, values lined up.
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4222000000000005 amount=000000000700 stan=000002"));
    EXPECT_TRUE(Has(seen, "6 info: Edastan päringu korduse...")) << seen;
    EXPECT_TRUE(Has(seen, "10 prompt: Autoriseerige telefonitsi tehing:\nKaardi number 4222000000000005\n"
                          "Kehtivusaeg   12/28\nOstusumma     7.00")) << seen;
    EXPECT_TRUE(Has(seen, "Autoris. nr. 876543 (käsitsi)")) << seen;
    EXPECT_TRUE(Has(seen, "22 approved")) << seen;
    // Eight characters stored as six; bit 1 of the POS code marks the code as telephoned.
    EXPECT_EQ(Rows("SELECT STAN, AuthCode, POSCode FROM Trans"), QStringList{"2|876543|3"});

    // No telephone code either: unfinished, nothing stored.
    EXPECT_EQ(Register(QStringList{"--trans", "00000012", "--amount", "8"} + card + QStringList{"--answer", ""}, &seen), 2);
    EXPECT_TRUE(Has(seen, "Autoriseerige telefonitsi tehing:")) << seen;
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"1"});
}

TEST_F(Purchases, ACancellationFindsTheRegistersOwnNumberOnlyFromThatRegister)
{
    std::string seen;
    ASSERT_EQ(Register(QStringList{"--workstation", "POS00005", "--trans", "00000777", "--amount", "4"} + kCard), 0);

    // Another register's number is not found: the preset refusal, and the card centre hears nothing.
    EXPECT_EQ(Register({"--workstation", "POS00006", "--trans", "00000801", "--cancel", "00000777"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 1")) << seen;
    EXPECT_FALSE(centre->Printed("auth 0400")) << centre->out;

    // The same register's number is: the reversal goes to the card centre with a STAN of its own.
    EXPECT_EQ(Register({"--workstation", "POS00005", "--trans", "00000802", "--cancel", "00000777"}, &seen), 0);
    EXPECT_TRUE(Has(seen, "KVIITUNG NR. 3")) << seen;  // the cancellation receipt: the built-in form
    EXPECT_TRUE(centre->WaitFor("auth 0400 pan=4000001234567899 amount=000000000400 stan=000003"));

    // A cancellation cannot be cancelled: its STAN finds it and it is refused with the preset answer.
    EXPECT_EQ(Register({"--workstation", "POS00005", "--trans", "00000803", "--cancel", "3"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 1")) << seen;
    EXPECT_EQ(Rows("SELECT Type, STAN, Toojaam, Trans, Amount FROM Trans ORDER BY rowid"),
              (QStringList{"0|2|POS00005|00000777|4", "1|3|POS00005|00000802|4"}));
}

} // namespace
