#include "workstation/queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tollan;

namespace {

WorkstationPacket From(int requester, std::string data = {})
{
    WorkstationPacket p;
    p.Requester = static_cast<std::int16_t>(requester);
    p.RequestData = std::move(data);
    return p;
}

} // namespace

TEST(WsQueue, RingHoldsAtMost1023InArrivalOrder)
{
    auto q = std::make_unique<PacketQueue>();
    for (int i = 0; i < 1023; ++i)
        ASSERT_TRUE(PacketQueue_Add(*q, From(1 + i % 32, std::to_string(i))));
    EXPECT_EQ(PacketQueue_Count(*q), 1023);
    EXPECT_FALSE(PacketQueue_Add(*q, From(1, "dropped")));
    WorkstationPacket p;
    for (int i = 0; i < 1023; ++i) {
        ASSERT_TRUE(PacketQueue_Take(*q, p));
        EXPECT_EQ(p.RequestData, std::to_string(i));
    }
    EXPECT_FALSE(PacketQueue_Take(*q, p));
    EXPECT_EQ(PacketQueue_Count(*q), 0);
    // wrapped round: head and tail at 1023, the next add lands in slot 1023 and then 0
    ASSERT_TRUE(PacketQueue_Add(*q, From(3, "a")));
    ASSERT_TRUE(PacketQueue_Add(*q, From(4, "b")));
    EXPECT_EQ(PacketQueue_Count(*q), 2);
    std::uint64_t conn = 99;
    ASSERT_TRUE(PacketQueue_Take(*q, p, &conn));
    EXPECT_EQ(p.RequestData, "a");
    EXPECT_EQ(conn, 0u);
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

TEST(WsQueue, InQueueDuringTheRequestTakenFromTheLastSlot)
{
    auto q = std::make_unique<PacketQueue>();
    q->head = q->tail = 1023;
    PacketQueue_Add(*q, From(2));
    ASSERT_TRUE(PacketQueue_Bar_Set(*q, 1023));
    WorkstationPacket p;
    PacketQueue_Take(*q, p);
    EXPECT_EQ(q->head, 0);
    EXPECT_TRUE(PacketQueue_InQueue(*q, 7));
    PacketQueue_Bar_Clear(*q, 1023);
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
