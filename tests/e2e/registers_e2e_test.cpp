// Several registers at once: one request runs, the others wait with busy notices and are answered
// in the order they arrived; and who may be a register at all ("AllowFrom").
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

TEST_F(Shop, OnlyRegistersFromWhereAllowFromSaysAreServedAndTheOthersAreLoggedUnread)
{
    struct Case {
        const char* allowFrom;
        const char* source;      // the register's own address (127.0.0.2 is loopback too)
        const char* terminal;    // the address it connects to
        bool served;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.2", "127.0.0.1", false},
        // The terminal listens on every interface, where an IPv4 register shows as ::ffff:127.0.0.1.
        {"127.0.0.1", "127.0.0.1", "127.0.0.1", true},
        {"10.0.0.0/8; 127.0.0.2/31", "127.0.0.2", "127.0.0.1", true},
        {"127.0.0.1;::1", "::1", "::1", true},
        {"::1", "127.0.0.1", "127.0.0.1", false},
        {"fe80::/10; ::/127", "::1", "::1", true},
        {"127.0.0.2/33", "127.0.0.2", "127.0.0.1", false},   // no network: nobody is let in by it
        {"", "127.0.0.2", "127.0.0.1", true},
    };
    StartTerminal();
    int refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.allowFrom) + " from " + c.source);
        Config("AllowFrom", c.allowFrom);   // read at each connection: no restart
        std::string seen;
        const int status = Register({"--query", "4000001234567899", "--source", c.source, "--host", c.terminal}, &seen);
        if (c.served) {
            EXPECT_EQ(status, 3) << seen;
            continue;
        }
        // Closed at once: the card query it sent with the connection was never read, so never answered.
        EXPECT_EQ(status, 4) << seen;
        EXPECT_FALSE(Has(seen, "<- ")) << seen;
        ++refused;
        const QStringList logged = Rows("SELECT Object, Message FROM Log WHERE Message LIKE '%AllowFrom%' ORDER BY rowid");
        ASSERT_EQ(logged.size(), refused);
        EXPECT_TRUE(logged.back().startsWith(QString("WSTJlistener|Ühendus aadressilt ") + c.source + " suletud"))
            << logged.back().toStdString();
    }
}

} // namespace
