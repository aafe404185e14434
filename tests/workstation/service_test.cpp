#include "workstation/service.h"

#include "support/home.h"
#include "workstation/dispatch.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tollan;

namespace {

std::string Packet(std::int16_t type, std::string data)
{
    WorkstationPacket p;
    p.Workstation = "POS00002";
    p.WorkstationTrans = "00000001";
    p.AnswerType = type;
    p.AnswerData = std::move(data);
    return WS_EncodePacket(p);
}

} // namespace

TEST(WsService, ArrivalQueuesRequestsAndKeepsDialogueAnswers)
{
    QTemporaryDir home;
    Home_Set(home.path());
    auto q = std::make_unique<PacketQueue>();
    StreamBuffer b;
    std::string tag = kDialogPending;
    const std::string both = "noise" + Packet(wsCardQuery, "4761") + Packet(wsDialogAnswer, "Ei");
    EXPECT_EQ(WSTJ_Arrival(*q, b, 5, both.substr(0, 20), tag), 0);
    EXPECT_EQ(WSTJ_Arrival(*q, b, 5, both.substr(20), tag), 1);
    EXPECT_EQ(tag, "Ei");
    ASSERT_EQ(PacketQueue_Count(*q), 1);
    EXPECT_TRUE(PacketQueue_InQueue(*q, 5));
}

TEST(WsService, ProcessOneAtATimeAndWaitWhileBusy)
{
    std::vector<std::string> sent;
    WS_SetRequesters({[](int) { return kRequesterConnected; },
                      [&](int, const std::string& bytes) { sent.push_back(bytes); },
                      [](int) -> std::string* { return nullptr; }});
    auto q = std::make_unique<PacketQueue>();
    WorkstationPacket p;
    p.Requester = 1;
    p.RequestType = wsCardQuery;
    PacketQueue_Add(*q, p);
    PacketQueue_Add(*q, p);

    ASSERT_TRUE(PacketQueue_Bar_Set(*q, -10));   // a scheduled job runs
    WSTJ_Process(*q);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(PacketQueue_Count(*q), 2);
    PacketQueue_Bar_Clear(*q, -10);

    WSTJ_Process(*q);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(PacketQueue_Count(*q), 1);
    EXPECT_EQ(q->busy, 0);
    WSTJ_Process(*q);
    WSTJ_Process(*q);
    EXPECT_EQ(sent.size(), 2u);
    WS_SetRequesters({});
}
