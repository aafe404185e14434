#include "tests/workstation/suite.h"

#include "support/home.h"
#include "protocol/response_text.h"

#include <QTimer>

namespace {

class WsDispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        WS_SetFlows({});
    }
    void TearDown() override { WS_SetFlows({}); }

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
        test::Finish(WS_Dispatch(Request(4, c.type, c.data), fake.At(4)));
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
    WS_SetFlows({[](WorkstationPacket r, Requester&) -> Task<WorkstationPacket> {
                     r.AnswerType = wsApproval;
                     r.AnswerData = "ok";
                     co_return r;
                 },
                 {}});
    const WorkstationPacket r = Request(2, wsPurchase, "");
    EXPECT_EQ(test::Finish(WS_Dispatch(r, fake.At(2))).AnswerData, "ok");
    EXPECT_TRUE(fake.got.empty());    // requester 2 is not connected
    fake.connected[2] = true;
    test::Finish(WS_Dispatch(r, fake.At(2)));
    ASSERT_EQ(fake.got.size(), 1u);
    EXPECT_EQ(fake.got[0].RequestType, wsApproval);
    EXPECT_EQ(fake.got[0].RequestData, "ok");
}

TEST_F(WsDispatch, MessageCarriesTheBusyNoticeHeader)
{
    fake.connected[1] = true;
    fake[1].inform("Kaardi kontroll...");
    fake[9].inform("nobody");
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
    fake.answers = {"Jah"};
    EXPECT_EQ(test::Finish(WS_Dialog(fake[3], r, "Kas kaart on kohal?", "")), "Jah");
    ASSERT_EQ(fake.got.size(), 1u);
    const WorkstationPacket prompt = fake.got[0];
    EXPECT_EQ(prompt.RequestType, wsDialog);
    EXPECT_EQ(prompt.Word2, 17);
    EXPECT_EQ(prompt.RequestData.size(), 170u);
    // An answer that comes when none is awaited is dropped, not kept for the next prompt.
    fake[3].answer("Ei");

    // no answer: the default 120 seconds pass on the test clock
    const auto t0 = Clock_Ms();
    EXPECT_EQ(test::Finish(WS_Dialog(fake[3], r, "Kas kaart on kohal?", "")), std::nullopt);
    EXPECT_GE(Clock_Ms() - t0, 120000);
    // A register that leaves ends the wait at once.
    Task<std::optional<std::string>> asked = WS_Dialog(fake[3], r, "Kas kaart on kohal?", "");
    const auto t1 = Clock_Ms();
    fake.connected[3] = false;
    fake[3].lose();
    EXPECT_EQ(test::Finish(std::move(asked)), std::nullopt);
    EXPECT_LT(Clock_Ms() - t1, 1000);
    // Nobody there: nothing is asked.
    EXPECT_EQ(test::Finish(WS_Dialog(fake[5], r, "Kas kaart on kohal?", "")), std::nullopt);
    EXPECT_EQ(fake.got.size(), 3u);
}
