#include "workstation/service.h"

#include "support/clock.h"
#include "workstation/dispatch.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tollan;

TEST(WsService, BusyNoticesGoToWaitingWorkstationsOnly)
{
    TestClock clock(QDateTime(QDate(2026, 12, 7), QTime(7, 5, 30)));
    ClockScope scope(clock);
    std::vector<int> to;
    const ConnectionSend send = [&](int r, const std::string&) { to.push_back(r); };
    auto q = std::make_unique<PacketQueue>();
    WS_SendBusyNotices(*q, 1, 32, send);
    EXPECT_TRUE(to.empty());   // idle: nobody waits
    for (int r : {2, 7}) {
        WorkstationPacket p;
        p.Requester = static_cast<std::int16_t>(r);
        PacketQueue_Add(*q, p);
    }
    WS_SendBusyNotices(*q, 1, 32, send);
    EXPECT_EQ(to, (std::vector<int>{2, 7}));

    std::string bytes = WS_BusyNotice(Clock_Now());
    WorkstationPacket n;
    ASSERT_GT(WS_DecodePacket(bytes, n), 0);
    EXPECT_EQ(n.RequestType, wsBusy);
    EXPECT_EQ(n.Word2, 256);
    EXPECT_EQ(n.RequestData, "07.12.2026 07:05:30\r\n");
}
