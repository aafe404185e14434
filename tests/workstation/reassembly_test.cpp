#include "workstation/reassembly.h"

#include <gtest/gtest.h>

#include <string>

using namespace tollan;

namespace {

std::string Packet(std::int16_t type, std::string data)
{
    WorkstationPacket p;
    p.Workstation = "POS00001";
    p.WorkstationTrans = "00000007";
    p.Word2 = 256;
    p.AnswerType = type;
    p.AnswerData = std::move(data);
    return WS_EncodePacket(p);
}

// A workstation sends every "%" byte of a packet as "%25".
std::string AsSent(const std::string& bytes)
{
    std::string out;
    for (char c : bytes)
        out += c == '%' ? std::string("%25") : std::string(1, c);
    return out;
}

} // namespace

TEST(WsStream, PacketArrivingByteByByteWithEscapesCutInTwo)
{
    const std::string wire = AsSent(Packet(wsCardQuery, "50% off %41"));
    StreamBuffer b;
    std::vector<WorkstationPacket> got;
    for (char c : wire) {
        auto r = Stream_Feed(b, std::string(1, c));
        EXPECT_TRUE(r.dropped.empty());
        for (auto& p : r.packets)
            got.push_back(p);
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].RequestData, "50% off %41");
}

TEST(WsStream, GarbageAndBadPacketsAreDroppedAndTheNextPacketFound)
{
    std::string badCrc = Packet(wsCardQuery, "x");
    badCrc[28] = 'y';
    std::string negative = Packet(wsCardQuery, "abc");
    negative[27] = '\x80';
    StreamBuffer b;
    const auto r = Stream_Feed(b, "junk" + badCrc + negative + Packet(wsCancel, "123456") + "\xFF");
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0].RequestType, wsCancel);
    EXPECT_EQ(r.packets[0].RequestData, "123456");
    ASSERT_FALSE(r.dropped.empty());
    EXPECT_EQ(r.dropped[0].substr(0, 4), "junk");
    EXPECT_EQ(b.data, "\xFF");   // may be the first half of the next marker
    const auto next = Stream_Feed(b, Packet(wsPurchase, "").substr(1));
    ASSERT_EQ(next.packets.size(), 1u);
    EXPECT_EQ(next.packets[0].RequestType, wsPurchase);
}

TEST(WsStream, CompleteEscapes)
{
    struct Case { std::string text; std::size_t whole; } cases[] = {
        {"abc", 3}, {"ab%", 2}, {"ab%4", 2}, {"ab%41", 5}, {"%%", 2}, {"%:x", 3}, {"%zq", 3}, {"%4z", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Stream_CompleteEscapes(c.text), c.whole) << c.text;
}
