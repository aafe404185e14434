#include "links/link.h"

#include "tests/links/suite.h"

namespace {

class LinkLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(centre.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&centre, &QTcpServer::newConnection, [this] { peer = centre.nextPendingConnection(); });
        Cfg_Put("Tollan_Auth_Address", "127.0.0.1:" + std::to_string(centre.serverPort()));
    }
    QTemporaryDir home;
    TestClock clock;
    ClockScope scope{clock};
    QTcpServer centre;
    QTcpSocket* peer = nullptr;
    Socket auth;
};

TEST_F(LinkLayer, EveryConnectFollowsUseX25AndADialogueKeepsTheLinkItConnectedOver)
{
    // An unset address fails each of the three attempts with a report.
    EXPECT_FALSE(test::Finish(Link_Connect(auth, "Trans_Address", 5)));
    EXPECT_EQ(Err_Index(), 3);
    EXPECT_EQ(Err_Record(3).number, 10049);
    Err_Clear();

    // X.25 switched on without a serial port attached: three quiet failures, half a second apart.
    Cfg_Put("UseX25", "1");
    const std::int64_t t0 = Clock_Ms();
    EXPECT_FALSE(test::Finish(Link_Connect(auth, "Auth_Address", 5)));
    EXPECT_GE(Clock_Ms() - t0, 1500);
    EXPECT_EQ(Err_Index(), 0);
    EXPECT_EQ(centre.hasPendingConnections() || peer, false);

    Cfg_Put("UseX25", "0");  // the next dialogue goes over TCP, without a restart
    ASSERT_TRUE(test::Finish(Link_Connect(auth, "Auth_Address", 5)));
    ASSERT_TRUE(Clock_WaitUntil([&] { return peer != nullptr; }, 2000));
    peer->write("0123456789");
    EXPECT_TRUE(test::Finish(Link_WaitFor(auth, "", 5)));  // any data, and it stays there
    EXPECT_EQ(Link_Receive(auth, 4), "0123");
    EXPECT_EQ(Link_Receive(auth, 100), "456789");
    EXPECT_EQ(Link_Receive(auth, 0), "");
    peer->write("short\r");
    EXPECT_FALSE(test::Finish(Link_WaitFor(auth, "????????*\r", 2)));  // fewer than eight before the CR
    EXPECT_EQ(Err_Record(Err_Index()).message, Text_Utf8ToCp1252("Sidepartner ei vasta päringule"));
    peer->write("0000000042\r");
    EXPECT_TRUE(test::Finish(Link_WaitFor(auth, "????????*\r", 2)));
    EXPECT_EQ(Link_Receive(auth, 0), "short\r0000000042\r");
    // Switched during the dialogue: it goes on, and closes, over the TCP line it has.
    Cfg_Put("UseX25", "1");
    EXPECT_TRUE(Link_Send(auth, "x"));
    ASSERT_TRUE(Clock_WaitUntil([&] { return peer->bytesAvailable() > 0; }, 2000));
    EXPECT_EQ(peer->readAll(), "x");
    Link_Close(auth);
    EXPECT_EQ(auth.state(), kSockClosed);
    // Closed, the socket has no link of its own: the setting's X.25, without a port, fails quietly
    // where the closed TCP line would report a broken connection.
    const int reports = Err_Index();
    EXPECT_FALSE(test::Finish(Link_WaitFor(auth, "", 1)));
    EXPECT_EQ(Err_Index(), reports) << Err_Record(Err_Index()).description;
}

} // namespace
