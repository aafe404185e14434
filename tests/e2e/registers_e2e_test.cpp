// Who may be a register at all ("AllowFrom"). Registers waiting behind a running request are in
// tests/e2e/transfile_e2e_test.cpp.
#include "tests/common/shop.h"

namespace {

using namespace tollan::test;

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
