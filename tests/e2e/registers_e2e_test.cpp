// Several registers at once: one request runs, the others wait with busy notices and are answered
// in the order they arrived.
#include "tests/e2e/shop.h"

namespace {

using namespace tollan::test;

TEST_F(Shop, WaitingRegistersGetBusyNoticesAndAreAnsweredInArrivalOrder)
{
    // The card centre takes eleven seconds over the first card, so a busy notice (every ten seconds)
    // falls inside the wait.
    StartCentre({"--rule", "pan=4333 delay 11000"});
    StartTerminal();
    auto slow = StartRegister({"--workstation", "POS00001", "--trans", "00000001", "--amount", "1", "--card",
                               "4333000000000003=28121010000012300000", "--answer", "0003"});
    ASSERT_TRUE(slow->WaitFor("Ootan vastust..."));
    auto second = StartRegister(QStringList{"--workstation", "POS00002", "--trans", "00000002", "--amount", "2"} + kCard);
    QThread::msleep(300);
    auto third = StartRegister(QStringList{"--workstation", "POS00003", "--trans", "00000003", "--amount", "3"} + kCard);

    EXPECT_EQ(slow->Exit(60000), 0) << slow->out;
    EXPECT_EQ(second->Exit(60000), 0) << second->out;
    EXPECT_EQ(third->Exit(60000), 0) << third->out;
    // The waiting registers were told the terminal is busy before their own request began.
    for (const auto* waiting : {second.get(), third.get()}) {
        const std::string& seen = waiting->out;
        ASSERT_TRUE(Has(seen, "5 busy: ")) << seen;
        EXPECT_LT(seen.find("5 busy: "), seen.find("6 info: Kaardi kontroll...")) << seen;
    }
    // The card centre heard them in the order they came, each with the next STAN.
    ASSERT_TRUE(centre->WaitFor("stan=000004"));
    const std::string& heard = centre->out;
    const auto a = heard.find("amount=000000000100 stan=000002"), b = heard.find("amount=000000000200 stan=000003"),
               c = heard.find("amount=000000000300 stan=000004");
    ASSERT_NE(a, std::string::npos) << heard;
    ASSERT_NE(b, std::string::npos) << heard;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(Rows("SELECT Toojaam, STAN FROM Trans ORDER BY rowid"),
              (QStringList{"POS00001|2", "POS00002|3", "POS00003|4"}));
}

} // namespace
