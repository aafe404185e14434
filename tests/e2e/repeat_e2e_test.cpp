// A register that lost the answer to its request and asks again under the same number: answered as
// the first was, without a second authorisation or receipt; the number with other data is refused.
#include "tests/e2e/suite.h"

namespace {

// How many times the card centre printed `line` so far.
int Heard(PeerProcess& centre, const std::string& line)
{
    centre.process.waitForReadyRead(300);
    centre.Printed("");
    return QString::fromStdString(centre.out).count(QString::fromStdString(line));
}

// What a repeat's register printed must hold the answer and nothing of a second run: no prompt,
// no receipt, no progress of a card-centre dialogue.
void AnsweredWithoutASecondRun(const std::string& seen, const std::string& answer)
{
    EXPECT_TRUE(Has(seen, answer)) << seen;
    for (const char* second : {"prompt:", "print:", "Kaardi kontroll", "Edastan"})
        EXPECT_FALSE(Has(seen, second)) << second << " in\n" << seen;
}

class Repeats : public Shop {
protected:
    void SetUp() override
    {
        Shop::SetUp();
        Config("ParallelRequests", "2");
        StartCentre({"--rule", "pan=4111 decline 5"});
        StartTerminal();
    }
};

TEST_F(Repeats, ApprovedAndDeclinedAnsweredAgainAsTheyWereOtherDataUnderTheNumberRefused)
{
    std::string first, again;
    const QStringList purchase = QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50",
                                             "--item", "1001;Leib;2;3.25"} + kCard;
    ASSERT_EQ(Register(purchase, &first), 0) << first;
    EXPECT_EQ(Register(purchase, &again), 0) << again;
    // The approval as it went the first time: its date, time, amount and the items' sums.
    const std::string approval = first.substr(first.find("22 approved"));
    AnsweredWithoutASecondRun(again, approval.substr(0, approval.find('\n')));
    EXPECT_EQ(Heard(*centre, "auth 0100"), 1) << centre->out;
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"1"});

    // The same number with another amount, or another card: refused, and the card centre hears nothing.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.51"} + kCard,
                       &again), 1);
    EXPECT_TRUE(Has(again, "0 refused 32: Selle numbriga tehing on juba tehtud!")) << again;
    EXPECT_EQ(Register({"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50", "--card",
                        "4000001234567881=28121010000012300000", "--answer", "7881"}, &again), 1);
    EXPECT_TRUE(Has(again, "0 refused 32: Selle numbriga tehing on juba tehtud!")) << again;
    // Another register's number 00000001 is its own.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00002", "--trans", "00000001", "--amount", "3"} + kCard), 0);
    EXPECT_EQ(Heard(*centre, "auth 0100"), 2) << centre->out;

    // Declined: the decline again, the card centre not asked twice.
    const QStringList declined = {"--workstation", "POS00001", "--trans", "00000002", "--amount", "5", "--card",
                                  "4111111111111111=28121010000012300000", "--answer", "1111"};
    ASSERT_EQ(Register(declined, &first), 1);
    EXPECT_EQ(Register(declined, &again), 1);
    AnsweredWithoutASecondRun(again, "0 refused 32: Viga nr. 05 - Puudub müügiluba");
    EXPECT_EQ(Heard(*centre, "auth 0100 pan=4111"), 1) << centre->out;

    // A cancellation asked again: one reversal.
    const QStringList cancellation = {"--workstation", "POS00001", "--trans", "00000003", "--cancel", "00000001"};
    ASSERT_EQ(Register(cancellation, &first), 0) << first;
    EXPECT_EQ(Register(cancellation, &again), 0) << again;
    AnsweredWithoutASecondRun(again, "22 approved");
    EXPECT_EQ(Heard(*centre, "auth 0400"), 1) << centre->out;
    // The same number naming another purchase is refused.
    EXPECT_EQ(Register({"--workstation", "POS00001", "--trans", "00000003", "--cancel", "3"}, &again), 1);
    EXPECT_TRUE(Has(again, "Selle numbriga tehing on juba tehtud!")) << again;

    // The event log says which were repeats.
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message LIKE 'korduv päring: kassa POS00001 nr 0000000%'"),
              QStringList{"3"});
}

// The register gives up waiting and asks again while its first request still waits for the cashier:
// the repeat waits and gets the first's answer; one authorisation, one receipt.
TEST_F(Repeats, ARepeatWhileTheFirstRunsWaitsForItsAnswer)
{
    const QStringList purchase = QStringList{"--workstation", "POS00004", "--trans", "00000007", "--amount", "4.20"} + kCard;
    auto first = StartRegister(purchase + QStringList{"--prompt-delay", "1500"});
    ASSERT_TRUE(first->WaitFor("prompt:"));
    std::string again;
    EXPECT_EQ(Register(purchase, &again), 0) << again;
    EXPECT_EQ(first->Exit(10000), 0) << first->out;
    AnsweredWithoutASecondRun(again, "22 approved: ");
    EXPECT_EQ(Heard(*centre, "auth 0100"), 1) << centre->out;
    EXPECT_EQ(Rows("SELECT Message FROM Log WHERE Message LIKE 'korduv%'"),
              QStringList{"korduv päring: kassa POS00004 nr 00000007, ootab esimese vastust"});
}

// A first whose cashier never answered the card check moved no money: the repeat waiting for it is
// served as a new request, with its own prompt and the one authorisation.
TEST_F(Repeats, ARepeatOfAFirstLeftUnfinishedIsServedAnew)
{
    const QStringList purchase = {"--workstation", "POS00004", "--trans", "00000008", "--amount", "4.30", "--card",
                                  "4000001234567899=28121010000012300000"};
    auto first = StartRegister(purchase + QStringList{"--prompt-delay", "1500", "--answer", ""});
    ASSERT_TRUE(first->WaitFor("prompt:"));
    std::string again;
    EXPECT_EQ(Register(purchase + QStringList{"--answer", "7899"}, &again), 0) << again;
    EXPECT_EQ(first->Exit(10000), 2) << first->out;
    EXPECT_TRUE(Has(again, "prompt:")) << again;
    EXPECT_EQ(Heard(*centre, "auth 0100"), 1) << centre->out;
}

} // namespace
