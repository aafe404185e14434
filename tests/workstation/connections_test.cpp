#include "workstation/connections.h"
#include "workstation/queue.h"
#include "workstation/service.h"

#include "store/db.h"
#include "tests/workstation/suite.h"
#include "tests/common/addresses.h"
#include "tests/common/test_home.h"
#include "support/wait.h"

#include <QAbstractEventDispatcher>
#include <QSqlQuery>
#include <QTcpSocket>

#include <memory>
#include <optional>

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

// A purchase whose flow asks the cashier a question and returns the answer it got.
WsFlows AskingFlows(const char* question = "Allkiri korras?")
{
    return {[question](WorkstationPacket p, Requester& who) -> Task<WorkstationPacket> {
                const std::optional<std::string> answer = co_await WS_Dialog(who, p, question, "");
                p.AnswerType = wsApproval;
                p.AnswerData = answer.value_or("(none)");
                co_return p;
            },
            {}};
}

void AnswerPrompt(Register& r, const WorkstationPacket& prompt, const char* answer)
{
    r.Send(RegisterRequest(wsDialogAnswer, prompt.WorkstationTrans, answer));
}

TEST_F(Workstations, OneAtATimeARequestWaitsForTheOneInProgressAndEveryoneWaitingHearsTheBusyNotice)
{
    WS_SetFlows(AskingFlows());
    auto a = Connect();
    auto b = Connect();
    a->Send(RegisterRequest(wsPurchase, "00000007", "x"));
    const auto prompt = a->Next();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->RequestType, wsDialog);
    b->Send(RegisterRequest(wsCardQuery, "00000008"));
    EXPECT_FALSE(b->Next(300));   // behind the purchase
    service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 30)));
    const auto busyA = a->Next(), busyB = b->Next();
    ASSERT_TRUE(busyA && busyB);
    EXPECT_EQ(busyA->RequestType, wsBusy);
    EXPECT_EQ(busyB->RequestType, wsBusy);
    EXPECT_EQ(busyA->Word2, 256);   // the notice carries the terminal's time
    EXPECT_TRUE(QDateTime::fromString(QString::fromStdString(busyA->RequestData), "dd.MM.yyyy HH:mm:ss\r\n").isValid())
        << busyA->RequestData;

    AnswerPrompt(*a, *prompt, "Jah");
    const auto final = a->Next();
    ASSERT_TRUE(final);
    EXPECT_EQ(final->WorkstationTrans, "00000007");
    EXPECT_EQ(final->RequestData, "Jah");
    const auto answerB = b->Next();   // started as soon as the purchase ended
    ASSERT_TRUE(answerB);
    EXPECT_EQ(answerB->WorkstationTrans, "00000008");
    service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 31)));
    EXPECT_FALSE(a->Next(200));  // nobody waits, and 31 is no tenth second
}

TEST_F(Workstations, TwoAtATimeTwoCashiersAnswerTheirPromptsInEitherOrderAndAThirdWaitsForARoom)
{
    service->setParallel(2);
    WS_SetFlows(AskingFlows());
    auto a = Connect(), b = Connect(), c = Connect();
    a->Send(RegisterRequest(wsPurchase, "00000001", "x"));
    b->Send(RegisterRequest(wsPurchase, "00000002", "x"));
    const auto promptA = a->Next(), promptB = b->Next();
    ASSERT_TRUE(promptA && promptB);
    c->Send(RegisterRequest(wsPurchase, "00000003", "x"));
    EXPECT_FALSE(c->Next(300));
    EXPECT_EQ(service->running(), 2);
    service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 40)));   // c waits, and hears so
    const auto busyC = c->Next();
    ASSERT_TRUE(busyC);
    EXPECT_EQ(busyC->RequestType, wsBusy);
    // The second cashier answers first; each answer reaches its own request.
    AnswerPrompt(*b, *promptB, "Bee");
    const auto finalB = b->NextNotBusy();
    ASSERT_TRUE(finalB);
    EXPECT_EQ(finalB->RequestData, "Bee");
    const auto promptC = c->NextNotBusy();   // the room b left
    ASSERT_TRUE(promptC);
    EXPECT_EQ(promptC->RequestType, wsDialog);
    AnswerPrompt(*a, *promptA, "Aa");
    AnswerPrompt(*c, *promptC, "Cee");
    const auto finalA = a->NextNotBusy(), finalC = c->NextNotBusy();
    ASSERT_TRUE(finalA && finalC);
    EXPECT_EQ(std::pair(finalA->WorkstationTrans, finalA->RequestData), std::pair(std::string("00000001"), std::string("Aa")));
    EXPECT_EQ(std::pair(finalC->WorkstationTrans, finalC->RequestData), std::pair(std::string("00000003"), std::string("Cee")));
    EXPECT_TRUE(Clock_WaitUntil([&] { return service->running() == 0; }, 3000));
}

TEST_F(Workstations, ARegisterOnTheIndexOfOneThatLeftWhileItsRequestRunsIsServedAsItself)
{
    bool goOn = false;
    std::optional<std::string> dialogAnswer = "unset";
    std::int64_t dialogMs = -1;
    WS_SetFlows({[&](WorkstationPacket p, Requester& who) -> Task<WorkstationPacket> {
                     const std::int64_t t0 = Clock_Ms();
                     dialogAnswer = co_await WS_Dialog(who, p, "Allkiri korras?", "");
                     dialogMs = Clock_Ms() - t0;
                     co_await Wait_Until([&] { return goOn; }, 10000);
                     who.inform("Kaardi number: 4761 **** **** 0016");   // a's, not the newcomer's
                     co_return p;
                 },
                 {}});
    auto a = Connect();
    a->onPrompt = [](Register& r, const WorkstationPacket&) { r.sock.disconnectFromHost(); };
    a->Send(RegisterRequest(wsPurchase, "00000009", "x"));
    ASSERT_TRUE(Clock_WaitUntil([&] { return dialogMs >= 0; }, 10000));
    EXPECT_EQ(dialogAnswer, std::nullopt);
    EXPECT_LT(dialogMs, 2000);   // the dialogue ended with the connection, not at its time-out

    auto newcomer = Connect();   // takes WSTJ(1) while a's request still runs
    ASSERT_TRUE(Clock_WaitUntil([&] { return service->socket(1).state() == kSockConnected; }, 3000));
    newcomer->Send(RegisterRequest(wsCardQuery, "00000010"));
    ASSERT_TRUE(Clock_WaitUntil([&] { return PacketQueue_Count(service->queue()) == 1; }, 3000));
    service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 30)));
    const auto busy = newcomer->Next();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->RequestType, wsBusy);
    goOn = true;
    Wait_Notify();
    // Then its own query is answered, and nothing of a's request ever reaches it.
    const auto own = newcomer->Next();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->RequestType, wsCardInfo);
    EXPECT_EQ(own->WorkstationTrans, "00000010");
    EXPECT_FALSE(newcomer->Next(300));
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

// The transaction file runs alone: it waits for the requests under way, and those that arrive
// meanwhile wait behind it, with the busy notice; with the queue full a request gets the preset
// error at once.
TEST_F(Workstations, AJobThatRunsAloneWaitsForTheRequestsUnderWayAndHoldsBackTheRest)
{
    service->setParallel(8);
    WS_SetFlows(AskingFlows());
    std::vector<bool> shown;
    service->busyChanged = [&](bool busy) { shown.push_back(busy); };
    std::vector<std::unique_ptr<Register>> regs;
    std::vector<WorkstationPacket> prompts;
    for (int i = 0; i < 8; ++i) {
        regs.push_back(Connect());
        regs.back()->Send(RegisterRequest(wsPurchase, "0000000" + std::to_string(i), "x"));
        const auto prompt = regs.back()->Next();
        ASSERT_TRUE(prompt) << i;
        prompts.push_back(*prompt);
    }
    bool jobRan = false, release = false;
    int runningWhenItRan = -1;
    auto job = service->RunAlone([&]() -> Task<int> {
        jobRan = true;
        runningWhenItRan = service->running();
        co_await Wait_Until([&] { return release; }, -1);
        co_return 7;
    });
    auto late = Connect();
    late->Send(RegisterRequest(wsCardQuery, "00000099"));
    EXPECT_FALSE(late->Next(300));
    EXPECT_FALSE(jobRan);
    for (int i = 0; i < 8; ++i) {
        AnswerPrompt(*regs[std::size_t(i)], prompts[std::size_t(i)], "Jah");
        ASSERT_TRUE(regs[std::size_t(i)]->Next()) << i;
    }
    ASSERT_TRUE(Clock_WaitUntil([&] { return jobRan; }, 3000));
    EXPECT_EQ(runningWhenItRan, 0);
    service->Tick(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 50)));
    const auto busy = late->Next();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->RequestType, wsBusy);

    std::string burst;
    for (int i = 0; i < kQueueSlots; ++i)
        burst += RegisterRequest(wsCardQuery, "00000001");
    regs[0]->Send(burst);
    const auto refused = regs[0]->NextNotBusy(5000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->RequestType, wsError);
    EXPECT_EQ(PacketQueue_Count(service->queue()), kQueueSlots - 1);
    EXPECT_EQ(LogRows().back(), "WSTJ(1): request queue full: answered with the preset error");

    release = true;
    Wait_Notify();
    EXPECT_EQ(test::Finish(std::move(job)), std::optional<int>(7));
    const auto answer = late->NextNotBusy();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->WorkstationTrans, "00000099");
    ASSERT_TRUE(Clock_WaitUntil([&] { return PacketQueue_Count(service->queue()) == 0 && service->running() == 0; }, 60000));
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

} // namespace

// Its size and its order are the service's tests above (a full ring, a stream answered in order).
// Who "AllowFrom" lets in: addresses and networks of either family, an IPv4 register as the
// listener on every interface sees it (IPv4-mapped), and entries that are no network let nobody in.
TEST(AllowFrom, AddressesAndNetworksOfEitherFamilyLetInTheirOwnAndABadEntryNobody)
{
    const struct {
        const char* rules;
        const char* from;
        bool allowed;
        const char* unreadable;
    } cases[] = {
        {"", "10.1.2.3", true, ""},
        {"127.0.0.1", "127.0.0.2", false, ""},
        {"127.0.0.1", "::ffff:127.0.0.1", true, ""},
        {"10.0.0.0/8; 127.0.0.2/31", "::ffff:127.0.0.3", true, ""},
        {"127.0.0.1;::1", "::1", true, ""},
        {"::1", "127.0.0.1", false, ""},
        {"fe80::/10; ::/127", "::1", true, ""},
        {"2001:db8::/32", "2001:db8:1::5", true, ""},
        {"127.0.0.2/33", "127.0.0.2", false, "127.0.0.2/33"},
        {"10.0.0.1,10.0.0.2", "10.0.0.1", false, "10.0.0.1,10.0.0.2"},
        {"kassa1; 10.0.0.1", "10.0.0.1", true, "kassa1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rules) + " from " + c.from);
        std::string unreadable;
        EXPECT_EQ(Ws_AllowedFrom(c.rules, QHostAddress(QString::fromLatin1(c.from)), unreadable), c.allowed);
        EXPECT_EQ(unreadable, c.unreadable);
    }
}

TEST(WsQueue, TheRingWrapsFromItsLastSlotToTheFirstAndKnowsWhoWaits)
{
    auto q = std::make_unique<PacketQueue>();
    q->head = q->tail = 1023;
    auto from = [](int requester, std::string data) {
        WorkstationPacket p;
        p.Requester = static_cast<std::int16_t>(requester);
        p.RequestData = std::move(data);
        return QueuedRequest{p, nullptr};
    };
    ASSERT_TRUE(PacketQueue_Add(*q, from(3, "a")));
    ASSERT_TRUE(PacketQueue_Add(*q, from(-9, "b")));
    EXPECT_EQ(PacketQueue_Count(*q), 2);
    EXPECT_TRUE(PacketQueue_InQueue(*q, 3));
    EXPECT_TRUE(PacketQueue_InQueue(*q, -9));
    EXPECT_FALSE(PacketQueue_InQueue(*q, 4));
    QueuedRequest r;
    ASSERT_TRUE(PacketQueue_Take(*q, r));
    EXPECT_EQ(r.packet.RequestData, "a");
    EXPECT_EQ(q->head, 0);
    EXPECT_FALSE(PacketQueue_InQueue(*q, 3));
    ASSERT_TRUE(PacketQueue_Take(*q, r));
    EXPECT_EQ(r.packet.RequestData, "b");
    EXPECT_FALSE(PacketQueue_Take(*q, r));
}
