#include "workstation/dispatch.h"

#include "support/clock.h"
#include "support/home.h"
#include "tests/common/register.h"
#include "transactions/response_text.h"

#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

using namespace tollan;

namespace {

class WsDispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        fake.Install();
        WS_SetFlows({});
    }
    void TearDown() override { WS_SetRequesters({}); }

    QTemporaryDir home;
    test::FakeRegisters fake;
    TestClock clock;
    ClockScope scope{clock};
};

WorkstationPacket Request(int requester, std::int16_t type, std::string data)
{
    WorkstationPacket r;
    r.Workstation = "POS00003";
    r.WorkstationTrans = "00000042";
    r.Word2 = 17;
    r.Word20 = 5;
    r.Requester = static_cast<std::int16_t>(requester);
    r.RequestType = type;
    r.RequestData = std::move(data);
    return r;
}

} // namespace

TEST_F(WsDispatch, EveryRequestGetsOneAnswer)
{
    struct Case { std::int16_t type; std::string data; std::int16_t answerType; std::int16_t code; } cases[] = {
        {wsCardQuery, "4761739001010010         X", wsCardInfo, 0},
        {19, "", wsError, 7},
        {wsDialogAnswer, "Jah", wsError, 7},
        {wsCancel, "123456", wsError, 1},
    };
    fake.connected[4] = true;
    for (const auto& c : cases) {
        fake.got.clear();
        WorkstationPacket r = Request(4, c.type, c.data);
        WS_Dispatch(r);
        ASSERT_EQ(fake.got.size(), 1u) << c.type;
        EXPECT_EQ(fake.got[0].Requester, 4);
        const WorkstationPacket a = fake.got[0];
        EXPECT_EQ(a.RequestType, c.answerType) << c.type;
        EXPECT_EQ(a.Word2, 17);
        EXPECT_EQ(a.Word20, 5);
        EXPECT_EQ(a.Workstation, "POS00003");
        // The answers' own layouts are the packet tests' business: here, which answer each request gets.
        EXPECT_EQ(a.RequestData, c.answerType == wsError ? WS_ErrorData(c.code, KK_ErrorText(c.code))
                                                         : WS_CardInfoData({"4761739001010010"}, 0));
    }
}

TEST_F(WsDispatch, FlowAnswerIsSentAndGoneConnectionGetsNothing)
{
    WS_SetFlows({[](WorkstationPacket& r) { r.AnswerType = wsApproval; r.AnswerData = "ok"; }, {}});
    WorkstationPacket r = Request(2, wsPurchase, "");
    WS_Dispatch(r);
    EXPECT_TRUE(fake.got.empty());    // requester 2 is not connected
    fake.connected[2] = true;
    WS_Dispatch(r);
    ASSERT_EQ(fake.got.size(), 1u);
    EXPECT_EQ(fake.got[0].RequestType, wsApproval);
    EXPECT_EQ(fake.got[0].RequestData, "ok");
}

TEST_F(WsDispatch, MessageCarriesTheBusyNoticeHeader)
{
    fake.connected[1] = true;
    EXPECT_TRUE(WS_Message(1, "Kaardi kontroll..."));
    EXPECT_TRUE(WS_Message(9, "nobody"));
    ASSERT_EQ(fake.got.size(), 1u);
    const WorkstationPacket m = fake.got[0];
    EXPECT_EQ(m.RequestType, wsInfo);
    EXPECT_EQ(m.Workstation, "00000000");
    EXPECT_EQ(m.Word2, 256);
    EXPECT_EQ(m.RequestData, "Kaardi kontroll...");
}

TEST_F(WsDispatch, DialogueAnsweredOrTimedOut)
{
    fake.connected[3] = true;
    const WorkstationPacket r = Request(3, wsPurchase, "");
    QTimer::singleShot(20, [&] { fake.tags[3] = "Jah"; });
    EXPECT_EQ(WS_Dialog(3, r, "Kas kaart on kohal?", ""), "Jah");
    EXPECT_EQ(fake.tags[3], "");
    ASSERT_EQ(fake.got.size(), 1u);
    const WorkstationPacket prompt = fake.got[0];
    EXPECT_EQ(prompt.RequestType, wsDialog);
    EXPECT_EQ(prompt.Word2, 17);
    EXPECT_EQ(prompt.RequestData.size(), 170u);

    // no answer: the default 120 seconds pass on the test clock
    const auto t0 = Clock_Ms();
    EXPECT_EQ(WS_Dialog(3, r, "Kas kaart on kohal?", ""), "");
    EXPECT_GE(Clock_Ms() - t0, 120000);
    EXPECT_EQ(fake.tags[3], "");
    // (a register that leaves ends the wait at once: the service tests, on a real connection)

    EXPECT_EQ(WS_Exchange(-10, "x"), "");
}
