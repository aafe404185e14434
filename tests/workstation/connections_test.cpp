#include "workstation/connections.h"
#include "workstation/queue.h"
#include "workstation/service.h"

#include "store/db.h"
#include "support/clock.h"
#include "tests/common/addresses.h"
#include "tests/common/register.h"
#include "tests/common/test_home.h"
#include "workstation/dispatch.h"

#include <QAbstractEventDispatcher>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

using namespace tollan;
using namespace tollan::test;

namespace {

class Workstations : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(Db_Open());
        WS_SetFlows({});
        service = std::make_unique<WorkstationService>();
        ASSERT_TRUE(service->StartOn(0));
        port = quint16(service->port());
    }
    void TearDown() override
    {
        service.reset();
        WS_SetFlows({});
        Db_Database().close();
    }
    std::vector<std::string> LogRows()
    {
        std::vector<std::string> rows;
        QSqlQuery q(Db_Database());
        q.exec("SELECT Object || ': ' || Message FROM Log ORDER BY rowid");
        while (q.next())
            rows.push_back(q.value(0).toString().toStdString());
        return rows;
    }
    std::unique_ptr<Register> Connect()
    {
        auto r = std::make_unique<Register>(port);
        EXPECT_TRUE(r->Connected());
        return r;
    }

    QTemporaryDir home;
    std::unique_ptr<WorkstationService> service;
    quint16 port = 0;
};

TEST_F(Workstations, ThirtyTwoConnectAThirtyThirdIsRefusedAndAFreedIndexIsReused)
{
    std::vector<std::unique_ptr<Register>> regs;
    for (int i = 0; i < kWstjCount; ++i)
        regs.push_back(Connect());
    ASSERT_TRUE(Clock_WaitUntil([&] { return service->socket(kWstjCount).state() == kSockConnected; }, 3000));
    EXPECT_EQ(service->socket(0).state(), kSockClosed);  // WSTJ(0) never holds a connection

    Register late(port);
    ASSERT_TRUE(Clock_WaitUntil([&] { return late.sock.state() == QAbstractSocket::UnconnectedState; }, 3000));
    EXPECT_EQ(LogRows(), std::vector<std::string>{"WSTJlistener: all sockets already in use"});

    regs[4]->sock.disconnectFromHost();  // the register on WSTJ(5) leaves
    ASSERT_TRUE(Clock_WaitUntil([&] { return service->socket(5).state() == kSockClosed; }, 3000));
    auto next = Connect();
    EXPECT_TRUE(Clock_WaitUntil([&] { return service->socket(5).state() == kSockConnected; }, 3000));
}

TEST_F(Workstations, TheListenerTakesConnectionsOnListenAddressAloneAndOneThatIsNoAddressIsReported)
{
    service.reset();
    Cfg_Put("ListenAddress", "127.0.0.2");
    service = std::make_unique<WorkstationService>();
    ASSERT_TRUE(service->StartOn(0));
    const quint16 at = quint16(service->port());
    QTcpSocket elsewhere;
    elsewhere.connectToHost(QHostAddress("127.0.0.1"), at);
    EXPECT_FALSE(elsewhere.waitForConnected(2000));
    EXPECT_EQ(elsewhere.error(), QAbstractSocket::ConnectionRefusedError);
    QTcpSocket there;
    there.connectToHost(QHostAddress("127.0.0.2"), at);
    ASSERT_TRUE(there.waitForConnected(2000));
    EXPECT_TRUE(Clock_WaitUntil([&] { return service->socket(1).state() == kSockConnected; }, 3000));

    service.reset();
    Cfg_Put("ListenAddress", "kassa.example");
    service = std::make_unique<WorkstationService>();
    EXPECT_FALSE(service->StartOn(0));
    EXPECT_EQ(service->listener().state(), kSockClosed);
    EXPECT_NE(Err_Record(Err_Index()).description.find("kassa.example"), std::string::npos);
}

// Whether a connection to `address` is taken: true when the service holds it on an index.
bool Served(WorkstationService& service, const QHostAddress& address, quint16 port)
{
    QTcpSocket s;
    s.connectToHost(address, port);
    return Clock_WaitUntil([&] { return service.socket(1).state() == kSockConnected || s.state() == QAbstractSocket::UnconnectedState; }, 3000) &&
           service.socket(1).state() == kSockConnected;
}

TEST_F(Workstations, ThePackagesServiceServesTheLoopbackAloneUntilAllowFromOrListenAddressIsSetAndSaysSoAtItsStart)
{
    const std::optional<QHostAddress> other = OtherAddressOfThisMachine();
    const QHostAddress any(QHostAddress::Any);
    const struct {
        bool service;
        const char* allowFrom;
        const char* listenAddress;
        QList<QHostAddress> listening;
    } cases[] = {
        {false, "", "", {any}},   // a terminal started by hand: every interface, as always
        {true, "", "", {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}},
        {true, "192.168.10.0/24", "", {any}},
        {true, "", "127.0.0.2", {QHostAddress("127.0.0.2")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.service ? "service" : "by hand") + ", AllowFrom " + c.allowFrom + ", ListenAddress " +
                     c.listenAddress);
        service.reset();
        QSqlQuery(Db_Database()).exec("DELETE FROM Log");
        Cfg_Put("AllowFrom", c.allowFrom);
        Cfg_Put("ListenAddress", c.listenAddress);
        service = std::make_unique<WorkstationService>();
        service->setService(c.service);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(service->StartOn(0));
        const std::string said = testing::internal::GetCapturedStderr();
        const quint16 at = quint16(service->port());
        EXPECT_EQ(service->listener().addresses(), c.listening);
        const bool loopbackOnly = c.listening.size() == 2;
        // The start says so, on stderr (the journal) and in the event log, with what opens it.
        EXPECT_EQ(said.find("tollan: registers are served on the loopback only (127.0.0.1 and ::1, port " +
                            std::to_string(at) + "): set AllowFrom to the registers' addresses or networks, or ListenAddress"),
                  loopbackOnly ? 0u : std::string::npos)
            << said;
        EXPECT_EQ(LogRows(), loopbackOnly ? std::vector<std::string>{"WSTJlistener: kassad ainult loopbackilt (127.0.0.1, "
                                                                     "::1); võrku avab AllowFrom või ListenAddress"}
                                          : std::vector<std::string>{});
        if (c.allowFrom[0] != '\0')
            continue;   // who gets in then is AllowFrom's business, below and in the end-to-end tests
        if (c.listening.front() == any || loopbackOnly) {
            EXPECT_TRUE(Served(*service, QHostAddress(QHostAddress::LocalHostIPv6), at));
            service->socket(1).close();
        }
        // From the machine's own network address: turned away at the door, unless every interface listens.
        if (other)
            EXPECT_EQ(Served(*service, *other, at), c.listening.front() == any) << other->toString().toStdString();
    }
    if (!other)
        GTEST_SKIP() << "this machine has the loopback alone: no other address to be refused on";
}

// A register in a connect loop from where AllowFrom does not allow writes one row a minute.
TEST_F(Workstations, RefusedConnectionsAreLoggedAtOnceThenCountedOnceAMinutePerAddress)
{
    TestClock clock(QDateTime::currentDateTime(), 1000000);   // moves only when told
    ClockScope scope(clock);
    Cfg_Put("AllowFrom", "10.0.0.0/8");
    auto refuse = [&](const char* from) {
        QTcpSocket s;
        ASSERT_TRUE(s.bind(QHostAddress(from)));
        s.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(Clock_WaitUntil([&] { return s.state() == QAbstractSocket::UnconnectedState; }, 3000));
    };
    auto tick = [&](std::int64_t ms) {
        clock.advance(ms);
        service->Tick(clock.now());
    };
    const std::string first2 = "WSTJlistener: Ühendus aadressilt 127.0.0.2 suletud: AllowFrom ei luba";
    const std::string first3 = "WSTJlistener: Ühendus aadressilt 127.0.0.3 suletud: AllowFrom ei luba";
    auto counted = [](int n) { return "WSTJlistener: AllowFrom: minutiga suletud ühendusi aadressilt 127.0.0.2: " + std::to_string(n); };
    for (int i = 0; i < 5; ++i)
        refuse("127.0.0.2");
    refuse("127.0.0.3");
    EXPECT_EQ(LogRows(), (std::vector<std::string>{first2, first3}));   // the first of each at once
    tick(59000);
    EXPECT_EQ(LogRows().size(), 2u);
    tick(2000);   // the minute is over: the rest counted in one row; the quiet address is forgotten
    EXPECT_EQ(LogRows(), (std::vector<std::string>{first2, first3, counted(4)}));
    refuse("127.0.0.2");   // within the next minute: counted
    refuse("127.0.0.3");   // forgotten, so logged at once again
    tick(61000);
    tick(61000);           // a quiet minute: forgotten too
    refuse("127.0.0.2");
    EXPECT_EQ(LogRows(), (std::vector<std::string>{first2, first3, counted(4), first3, counted(1), first2}));
}

TEST_F(Workstations, EveryPacketOfTheStreamIsAnsweredOnceInOrder)
{
    auto r = Connect();
    const std::string b = RegisterRequest(wsCardQuery, "00000002");
    r->Send(RegisterRequest(wsCardQuery, "00000001") + b);  // two in one segment
    r->Send("garbage" + b.substr(0, 10));           // noise, then half a packet ...
    Clock_WaitUntil([] { return false; }, 100);
    r->Send(b.substr(10));                          // ... and its other half
    for (const char* trans : {"00000001", "00000002", "00000002"}) {
        auto p = r->Next();
        ASSERT_TRUE(p) << trans;
        EXPECT_EQ(p->WorkstationTrans, trans);
        EXPECT_EQ(p->RequestType, wsCardInfo);
    }
    EXPECT_FALSE(r->Next(300));
    ASSERT_FALSE(LogRows().empty());
    EXPECT_EQ(LogRows().front(), "WSTJ(1): vigane pakett: garbage");
    // Everything answered, the service posts itself no more work: an idle terminal stays idle.
    int passesWithWork = 0;
    for (int i = 0; i < 50; ++i)
        passesWithWork += QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents);
    EXPECT_LT(passesWithWork, 10);
}

TEST_F(Workstations, ARequestWaitsForTheOneInProgressAndEveryoneWaitingHearsTheBusyNotice)
{
    auto a = Connect();
    auto b = Connect();
    a->onPrompt = [](Register& r, const WorkstationPacket& p) { r.Send(RegisterRequest(wsDialogAnswer, p.WorkstationTrans.c_str(), "Jah")); };
    std::string dialogAnswer;
    bool bWaited = false;
    std::optional<WorkstationPacket> busyA, busyB;
    WS_SetFlows({[&](WorkstationPacket& p) {
                     b->Send(RegisterRequest(wsCardQuery, "00000008"));
                     bWaited = !b->Next(300);  // behind the purchase
                     service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 30)));
                     busyA = a->Next();
                     busyB = b->Next();
                     dialogAnswer = WS_Dialog(p.Requester, p, "Allkiri korras?", "");
                 },
                 {}});
    a->Send(RegisterRequest(wsPurchase, "00000007", "x"));
    auto prompt = a->Next();
    auto final = a->Next();
    ASSERT_TRUE(prompt && final);
    EXPECT_TRUE(bWaited);
    ASSERT_TRUE(busyA && busyB);
    EXPECT_EQ(busyA->RequestType, wsBusy);
    EXPECT_EQ(busyB->RequestType, wsBusy);
    EXPECT_EQ(busyA->Word2, 256);   // the notice carries the terminal's time
    EXPECT_TRUE(QDateTime::fromString(QString::fromStdString(busyA->RequestData), "dd.MM.yyyy HH:mm:ss\r\n").isValid())
        << busyA->RequestData;
    EXPECT_EQ(prompt->RequestType, wsDialog);
    EXPECT_EQ(final->WorkstationTrans, "00000007");
    EXPECT_EQ(dialogAnswer, "Jah");

    service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 31)));  // picks up the waiting query
    auto answerB = b->Next();
    ASSERT_TRUE(answerB);
    EXPECT_EQ(answerB->WorkstationTrans, "00000008");
    EXPECT_FALSE(a->Next(200));  // no busy notice at a second that is not a tenth
}

TEST_F(Workstations, ARegisterOnTheIndexOfOneThatLeftWhileItsRequestRunsIsServedAsItself)
{
    auto a = Connect();
    a->onPrompt = [](Register& r, const WorkstationPacket&) { r.sock.disconnectFromHost(); };
    std::unique_ptr<Register> newcomer;
    std::optional<WorkstationPacket> busy;
    std::string dialogAnswer = "unset";
    std::int64_t dialogMs = -1;
    WS_SetFlows({[&](WorkstationPacket& p) {
                     const std::int64_t t0 = Clock_Ms();
                     dialogAnswer = WS_Dialog(p.Requester, p, "Allkiri korras?", "");
                     dialogMs = Clock_Ms() - t0;
                     newcomer = Connect();  // takes WSTJ(1) while a's request still runs
                     Clock_WaitUntil([&] { return service->socket(1).state() == kSockConnected; }, 3000);
                     newcomer->Send(RegisterRequest(wsCardQuery, "00000010"));
                     Clock_WaitUntil([&] { return PacketQueue_Count(service->queue()) == 1; }, 3000);
                     service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 30)));
                     busy = newcomer->Next();
                     WS_Message(p.Requester, "Kaardi number: 4761 **** **** 0016");   // a's, not the newcomer's
                 },
                 {}});
    a->Send(RegisterRequest(wsPurchase, "00000009", "x"));
    ASSERT_TRUE(Clock_WaitUntil([&] { return busy.has_value() || (newcomer && !newcomer->sock.isOpen()); }, 10000));
    EXPECT_EQ(dialogAnswer, "");
    EXPECT_LT(dialogMs, 2000);   // the dialogue ended with the connection, not at its time-out
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->RequestType, wsBusy);
    // Then its own query is answered, and nothing of a's request ever reaches it.
    auto own = newcomer->Next();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->RequestType, wsCardInfo);
    EXPECT_EQ(own->WorkstationTrans, "00000010");
}

TEST_F(Workstations, APacketWhoseRestNeverComesIsDroppedTenSecondsAfterItsLastByte)
{
    TestClock clock;
    ClockScope scope(clock);
    auto r = Connect();
    std::string damaged = RegisterRequest(wsCardQuery, "00000001").substr(0, 28);
    damaged[26] = '\x30';   // its header announces 30 000 bytes of data
    damaged[27] = '\x75';
    r->Send(damaged + RegisterRequest(wsCardQuery, "00000002"));
    const QDateTime tick(QDate(2026, 12, 7), QTime(12, 0, 1));
    service->Tick(tick);
    EXPECT_FALSE(r->Next(300));   // the query is taken for the damaged packet's data
    clock.advance(5000);
    service->Tick(tick);
    EXPECT_FALSE(r->Next(300));
    clock.advance(6000);
    service->Tick(tick);
    auto answer = r->Next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->WorkstationTrans, "00000002");
    ASSERT_FALSE(LogRows().empty());
    EXPECT_EQ(LogRows().back().rfind("WSTJ(1): vigane pakett: ", 0), 0u);
}

TEST_F(Workstations, ARequestThatFindsTheQueueFullGetsThePresetErrorAndIsLogged)
{
    auto r = Connect();
    ASSERT_TRUE(PacketQueue_Bar_Set(service->queue(), -10));  // a scheduled job holds the marker
    std::string burst;
    for (int i = 0; i < kQueueSlots; ++i)
        burst += RegisterRequest(wsCardQuery, "00000001");
    r->Send(burst);
    auto refused = r->Next(5000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->RequestType, wsError);
    EXPECT_EQ(PacketQueue_Count(service->queue()), kQueueSlots - 1);
    EXPECT_EQ(LogRows().back(), "WSTJ(1): request queue full: answered with the preset error");
}

WorkstationPacket From(int requester, std::string data = {})
{
    WorkstationPacket p;
    p.Requester = static_cast<std::int16_t>(requester);
    p.RequestData = std::move(data);
    return p;
}

} // namespace

// Its size and its order are the service's tests above (a full ring, a stream answered in order).
TEST(WsQueue, TheRingWrapsFromItsLastSlotToTheFirst)
{
    auto q = std::make_unique<PacketQueue>();
    q->head = q->tail = 1023;
    ASSERT_TRUE(PacketQueue_Add(*q, From(3, "a")));
    ASSERT_TRUE(PacketQueue_Add(*q, From(4, "b")));
    EXPECT_EQ(PacketQueue_Count(*q), 2);
    ASSERT_TRUE(PacketQueue_Bar_Set(*q, 1023));
    WorkstationPacket p;
    std::uint64_t conn = 99;
    ASSERT_TRUE(PacketQueue_Take(*q, p, &conn));
    EXPECT_EQ(p.RequestData, "a");
    EXPECT_EQ(conn, 0u);
    EXPECT_EQ(q->head, 0);
    EXPECT_TRUE(PacketQueue_InQueue(*q, 7));   // the request taken from the last slot still runs
    EXPECT_TRUE(PacketQueue_Bar_Clear(*q, 1023));
    ASSERT_TRUE(PacketQueue_Take(*q, p));
    EXPECT_EQ(p.RequestData, "b");
}

TEST(WsQueue, InQueueOnlyForWaitingConnectionsOrARunningRequest)
{
    auto q = std::make_unique<PacketQueue>();
    // idle at slot 0: nobody is waiting, so nobody gets a busy notice
    EXPECT_FALSE(PacketQueue_InQueue(*q, 1));
    PacketQueue_Add(*q, From(5));
    PacketQueue_Add(*q, From(-9));
    EXPECT_TRUE(PacketQueue_InQueue(*q, 5));
    EXPECT_TRUE(PacketQueue_InQueue(*q, -9));
    EXPECT_FALSE(PacketQueue_InQueue(*q, 6));
    // a request in progress: every connection is told
    const int h = q->head;
    ASSERT_TRUE(PacketQueue_Bar_Set(*q, h));
    WorkstationPacket p;
    PacketQueue_Take(*q, p);
    EXPECT_TRUE(PacketQueue_InQueue(*q, 6));
    EXPECT_TRUE(PacketQueue_Bar_Clear(*q, h));
    EXPECT_FALSE(PacketQueue_InQueue(*q, 5));
    // a scheduled job holds the marker but is no request
    ASSERT_TRUE(PacketQueue_Bar_Set(*q, -10));
    EXPECT_FALSE(PacketQueue_InQueue(*q, 6));
    EXPECT_TRUE(PacketQueue_Bar_Clear(*q, -10));
}

TEST(WsQueue, BusyMarkerAndGuard)
{
    auto q = std::make_unique<PacketQueue>();
    std::vector<bool> shown;
    q->busyChanged = [&](bool busy) { shown.push_back(busy); };
    {
        BusyGuard job(*q, -10);
        EXPECT_TRUE(job.held());
        EXPECT_EQ(q->busy, -9);
        BusyGuard request(*q, 4);
        EXPECT_FALSE(request.held());
        EXPECT_FALSE(PacketQueue_Bar_Clear(*q, 4));   // not its marker: stays set
        EXPECT_EQ(q->busy, -9);
    }
    EXPECT_EQ(q->busy, 0);
    EXPECT_TRUE(PacketQueue_Bar_Clear(*q, 4));        // free already
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}
