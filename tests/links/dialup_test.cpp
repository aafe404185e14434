#include "links/dialup.h"
#include "links/ras.h"
#include "links/ras_script.h"
#include "tests/links/suite.h"

#include <QTimer>

namespace {

class DialUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        tollan::test::UseTestHome(home.path());
        Cfg_Put("UseRAS", "1");
        Cfg_Put("RAS\\KeepActive", "10");
        DialUse_Reset();
        Ras_Reset();
        Ras_SetBackend(&service);
    }
    void TearDown() override { Ras_SetBackend(nullptr); }
    // One card-centre exchange: connect, some traffic, close.
    void Exchange()
    {
        test::Finish(DialUse_Acquire());
        DialUse_Touch();
        DialUse_Release();
    }

    QTemporaryDir home;
    TestClock clock;
    ClockScope scope{clock};
    RasScript service;
};

TEST_F(DialUp, TwoExchangesShareOneConnectionWhichHangsUpOnceIdleLongEnough)
{
    Exchange();
    Exchange();
    EXPECT_EQ(service.dials, 1);
    EXPECT_EQ(service.lastDial.entry, "tollan");
    const int finds = service.finds;
    clock.advance(9000);
    for (int tick = 0; tick < 5; ++tick)
        DialUse_IdleCheck();
    EXPECT_EQ(service.finds, finds);   // the ticks ask the service nothing
    Clock_WaitUntil([] { return false; }, 100);
    EXPECT_EQ(service.hangUps, 0);
    clock.advance(2000);
    DialUse_IdleCheck();
    EXPECT_EQ(service.hangUps, 0);     // not inside the tick: from the event loop
    EXPECT_TRUE(Clock_WaitUntil([&] { return service.hangUps == 1; }, 1000));
    Exchange();  // the next one dials afresh
    EXPECT_EQ(service.dials, 2);
}

// A dial takes its time on the event loop: a second register's connect meanwhile waits for it and
// uses its line, and the idle hang-up that a connect finds under way is awaited, then dialled afresh.
TEST_F(DialUp, ConnectsDuringADialOrAHangUpWaitForItAndDialOnce)
{
    service.dialMs = 20000;
    Task<void> first = DialUse_Acquire();
    Task<void> second = DialUse_Acquire();
    // An event of the loop while the one dial is under way and the second connect waits for it.
    bool servedDuringTheDial = false;
    QTimer::singleShot(0, [&] { servedDuringTheDial = service.dials == 1 && Ras_Count() == 0 && !second.done(); });
    test::Finish(std::move(first));
    test::Finish(std::move(second));
    EXPECT_TRUE(servedDuringTheDial);
    EXPECT_EQ(service.dials, 1);
    EXPECT_EQ(DialUse_Users(), 2);
    EXPECT_EQ(Ras_Count(), 1);

    DialUse_Release();
    DialUse_Release();
    clock.advance(11000);
    DialUse_IdleCheck();                      // the hang-up is posted; a connect comes first
    test::Finish(DialUse_Acquire());
    EXPECT_EQ(service.hangUps, 1);
    EXPECT_EQ(service.dials, 2);
    EXPECT_EQ(Ras_Count(), 1);
}

TEST_F(DialUp, AFailedDialIsReportedOnceAndTheNextConnectDialsAgain)
{
    service.dialCode = 676;
    test::Finish(DialUse_Acquire());
    ASSERT_EQ(Err_Index(), 1);
    EXPECT_EQ(Err_Record(1).number, 676);
    EXPECT_EQ(Err_Record(1).description, "Modem reports busy.");
    EXPECT_EQ(Ras_Count(), 0);
    DialUse_Release();
    service.dialCode = 0;
    test::Finish(DialUse_Acquire());  // the check finds nothing up and the link dials again
    EXPECT_EQ(service.dials, 2);
    EXPECT_EQ(Err_Index(), 1);
    EXPECT_EQ(Ras_Count(), 1);
}

TEST_F(DialUp, ADroppedConnectionIsFoundByTheNextConnectWhichDialsAgain)
{
    test::Finish(DialUse_Acquire());
    test::Finish(DialUse_Acquire());
    EXPECT_EQ(DialUse_Users(), 2);
    service.up = false;  // the line went
    test::Finish(DialUse_Acquire());
    EXPECT_EQ(DialUse_Users(), 1);
    EXPECT_EQ(Ras_Count(), 1);
    EXPECT_EQ(service.dials, 2);
}

TEST_F(DialUp, NothingTouchesTheServiceWhenUnusedOrSwitchedOffAndAConnectionFoundUpIsNeverHungUp)
{
    test::Finish(Ras_Release());  // shutdown with nothing used
    EXPECT_EQ(service.finds + service.dials + service.hangUps, 0);
    Cfg_Put("UseRAS", "0");
    Exchange();
    DialUse_IdleCheck();
    EXPECT_EQ(service.finds + service.dials + service.hangUps, 0);

    Cfg_Put("UseRAS", "1");
    service.up = true;
    test::Finish(Ras_Init());
    Exchange();
    clock.advance(60000);
    DialUse_IdleCheck();
    test::Finish(Ras_Release());
    EXPECT_EQ(service.dials, 0);
    EXPECT_EQ(service.hangUps, 0);
}

// Only the card-centre links count: not a register's line, and a link ended by its error event
// counts out once, at its dialogue's close.
TEST_F(DialUp, OnlyACardCentreLinkCountsAndItCountsOutAtItsDialoguesClose)
{
    QTcpServer centre;
    ASSERT_TRUE(centre.listen(QHostAddress::LocalHost, 0));
    Listener listener;
    ASSERT_TRUE(listener.listen(0));
    Socket auth, ws;
    QObject::connect(&listener, &Listener::connectionRequest, [&](std::int32_t id) { ws.accept(listener.take(id)); });
    Tcp_HandleCardCentreEvents(auth, kMsgAuthSocket);
    ASSERT_TRUE(test::Finish(Tcp_Connect(auth, "127.0.0.1:" + std::to_string(centre.serverPort()), 5)));
    QTcpSocket reg;
    reg.connectToHost(QHostAddress::LocalHost, quint16(listener.localPort()));
    ASSERT_TRUE(Clock_WaitUntil([&] { return ws.state() == kSockConnected; }, 3000));
    EXPECT_EQ(DialUse_Users(), 1);
    Tcp_Close(ws);
    EXPECT_EQ(DialUse_Users(), 1);
    bool cancel = false;
    emit auth.error(10050, "Network is down", &cancel);   // the line under the link went
    EXPECT_EQ(auth.state(), kSockClosed);
    Tcp_Close(auth);
    EXPECT_EQ(DialUse_Users(), 0);
    clock.advance(11000);
    DialUse_IdleCheck();
    EXPECT_TRUE(Clock_WaitUntil([&] { return service.hangUps == 1; }, 1000));
}

TEST(DialUpBackends, ReadWhatTheServicesPrint)
{
    const std::string nmcli = "Wired connection 1:802-3-ethernet:activated\n"
                              "tollan:ppp:activated\n"
                              "mobile\\:2:gsm:activated\n"
                              "spare:ppp:deactivating\n";
    EXPECT_EQ(Ras_NmcliDialUps(nmcli), (std::vector<std::string>{"tollan", "mobile:2"}));
    EXPECT_TRUE(Ras_NmcliDialUps("").empty());
    EXPECT_EQ(Ras_FirstPppUp("lo 0x9\neth0 0x1003\nppp1 0x10d1\nppp0 0x1090\n"), 1);  // ppp0 is down
    EXPECT_EQ(Ras_FirstPppUp("ppp0 0x1090\npppx 0x1\n"), -1);
}

} // namespace
