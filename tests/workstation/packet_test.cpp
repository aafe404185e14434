#include "workstation/packet.h"
#include "workstation/reassembly.h"

#include "protocol/frame.h"

#include "tests/workstation/suite.h"

#include <string>
#include <tuple>

namespace {

WorkstationPacket InfoPacket(std::string data)
{
    WorkstationPacket r;
    r.Workstation = "00000000";
    r.WorkstationTrans = "00000000";
    r.Word2 = 256;
    r.Word20 = 0;
    r.AnswerType = wsInfo;
    r.AnswerData = std::move(data);
    return r;
}

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }

// A packet of the given type as a workstation sends it, every "%" byte written "%25".
std::string Packet(std::int16_t type, std::string data)
{
    WorkstationPacket p = InfoPacket(std::move(data));
    p.AnswerType = type;
    return WS_EncodePacket(p);
}

std::string AsSent(const std::string& bytes)
{
    std::string out;
    for (char c : bytes)
        out += c == '%' ? std::string("%25") : std::string(1, c);
    return out;
}

PurchaseRequest SamplePurchase()
{
    PurchaseRequest q;
    q.Reference = "REF-0001";
    q.Kind = 3;
    q.Date = 20261207;
    q.Time = 101530;
    q.Amount = 125000;
    q.Amount2 = -5;
    q.Amount3 = 1234567890123LL;
    q.Text60 = "M\xFC\xFCja";
    q.PAN = "4761739001010010";
    q.Text135 = "T135";
    q.CardData = "4761739001010010=2512101000000000000 12512";
    return q;
}

PurchaseItems SampleItems(int m)
{
    PurchaseItems items(static_cast<std::size_t>(m) + 1);
    for (int i = 1; i <= m; ++i) {
        auto& it = items[static_cast<std::size_t>(i)];
        it.ItemCode = "C" + std::to_string(i);
        it.ItemText = "Kohv " + std::to_string(i);
        it.ItemLong = 1000 + i;
        it.ItemQuantity = 1.5f * static_cast<float>(i);
        it.ItemAmount1 = 10000 * i;
        it.ItemAmount2 = 20000 * i;
        it.ItemAmount3 = -30000 * i;
    }
    return items;
}

} // namespace

// Header texts are cut to their 8 bytes or filled with zero bytes, which are read back as they are.
TEST(WsPacket, InformationMessageWorkedExample)
{
    WorkstationPacket p = InfoPacket("abc");
    p.Workstation = "007";
    p.WorkstationTrans = "123456789AB";
    const std::string bytes = WS_EncodePacket(p);
    ASSERT_EQ(bytes.size(), 31u);
    EXPECT_EQ(bytes.substr(0, 22) + bytes.substr(24),
              std::string("\xFF\xFF\0\x01" "007\0\0\0\0\0" "12345678" "\0\0" "\x06\0\x03\0" "abc", 29));
    std::string zeroed = bytes;
    zeroed[22] = zeroed[23] = '\0';
    EXPECT_EQ(Bin_Decode<std::uint16_t>(bytes.substr(22, 2)), KK_Crc16(zeroed));

    std::string text = bytes;
    WorkstationPacket r;
    ASSERT_EQ(WS_DecodePacket(text, r), 31);
    EXPECT_TRUE(text.empty());
    r.AnswerType = r.RequestType;
    r.AnswerData = r.RequestData;
    EXPECT_EQ(WS_EncodePacket(r), bytes);   // every header field read back
    EXPECT_EQ(r.Workstation, std::string("007\0\0\0\0\0", 8));
    EXPECT_EQ(r.RequestData, "abc");

    // Every single changed byte is caught (the marker, the length or the CRC).
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string bad = bytes;
        bad[i] = static_cast<char>(bad[i] ^ 0x20);
        const std::string before = bad;
        WorkstationPacket out;
        EXPECT_EQ(WS_DecodePacket(bad, out), 0) << i;
        EXPECT_EQ(bad, before) << i;
    }
}

// A CRC above 0x7FFF goes out as a signed 16-bit number and is accepted back.
TEST(WsPacket, CrcAboveSignedRangeTravelsAsTwosComplement)
{
    std::string bytes = WS_EncodePacket(InfoPacket("n127548"));   // its CRC is 0x8001
    EXPECT_EQ(bytes.substr(22, 2), Byte(0x01) + Byte(0x80));
    WorkstationPacket r;
    EXPECT_EQ(WS_DecodePacket(bytes, r), 35);
    EXPECT_EQ(r.RequestData, "n127548");
}

TEST(WsPacket, StreamOfPacketsWithGarbage)
{
    const std::string a = WS_EncodePacket(InfoPacket("first"));
    const std::string b = WS_EncodePacket(InfoPacket(std::string("se\xFF\xFF" "cond", 8)));
    std::string text = "junk\xFE" + a + b + a.substr(0, 20);
    WorkstationPacket r;
    EXPECT_EQ(WS_DecodePacket(text, r), static_cast<int>(5 + a.size()));
    EXPECT_EQ(r.RequestData, "first");
    EXPECT_EQ(WS_DecodePacket(text, r), static_cast<int>(b.size()));
    EXPECT_EQ(r.RequestData, std::string("se\xFF\xFF" "cond", 8));
    EXPECT_EQ(text, a.substr(0, 20));
    EXPECT_EQ(WS_DecodePacket(text, r), 0);     // incomplete: kept for more bytes
    EXPECT_EQ(text, a.substr(0, 20));
    text += a.substr(20);
    EXPECT_EQ(WS_DecodePacket(text, r), static_cast<int>(a.size()));
    EXPECT_TRUE(text.empty());
}

TEST(WsPacket, NoValidPacket)
{
    std::string negative = WS_EncodePacket(InfoPacket("abc"));
    negative[26] = '\x00';
    negative[27] = '\x80';   // -32768
    const std::string cases[] = {
        "", "\xFF", "no marker here at all, long enough to hold a header",
        std::string(27, '\xFF'), negative, WS_EncodePacket(InfoPacket("abc")).substr(0, 30),
    };
    for (const auto& c : cases) {
        std::string text = c;
        WorkstationPacket r;
        EXPECT_EQ(WS_DecodePacket(text, r), 0) << c.size();
        EXPECT_EQ(text, c);
    }
}

TEST(WsLayouts, PurchaseRoundTripAndPositions)
{
    const PurchaseRequest q = SamplePurchase();
    const PurchaseItems items = SampleItems(2);
    const std::string d = WS_EncodePurchase(q, items);
    ASSERT_EQ(d.size(), 196u + 2 * 67u);
    EXPECT_EQ(d.substr(0, 25), "REF-0001                 ");
    EXPECT_EQ(d.substr(25, 2), Byte(3) + Byte(0));
    EXPECT_EQ(Bin_Decode<std::int64_t>(d.substr(35, 8)), 125000);
    EXPECT_EQ(d.substr(109, 25), "4761739001010010         ");
    EXPECT_EQ(d.substr(194, 2), Byte(2) + Byte(0));
    EXPECT_EQ(d.substr(196, 10), "C1        ");

    PurchaseRequest back;
    PurchaseItems backItems;
    ASSERT_TRUE(WS_DecodePurchase(d, back, backItems));
    auto fields = [](const PurchaseRequest& r) {
        return std::tie(r.Reference, r.Kind, r.Date, r.Time, r.Amount, r.Amount2, r.Amount3, r.Text60, r.PAN,
                        r.Text135, r.CardData);
    };
    EXPECT_TRUE(fields(back) == fields(q));
    auto item = [](const PurchaseItem& i) {
        return std::tie(i.ItemCode, i.ItemText, i.ItemLong, i.ItemQuantity, i.ItemAmount1, i.ItemAmount2, i.ItemAmount3);
    };
    ASSERT_EQ(WS_ItemCount(backItems), 2);
    for (std::size_t i = 1; i <= 2; ++i)
        EXPECT_TRUE(item(backItems[i]) == item(items[i])) << i;
}

TEST(WsLayouts, PurchaseThatDoesNotHoldItsItems)
{
    const std::string base = WS_EncodePurchase(SamplePurchase(), SampleItems(0));
    ASSERT_EQ(base.size(), 196u);
    struct Case { int count; std::size_t extra; bool ok; } cases[] = {
        {0, 0, true}, {1, 67, true}, {1, 66, false}, {2, 133, false}, {2, 134 + 10, true},
        {-1, 0, false}, {-32768, 67, false}, {32767, 67, false},
    };
    for (const auto& c : cases) {
        std::string d = base + std::string(c.extra, 'x');
        d[194] = Bin_Encode(static_cast<std::int16_t>(c.count))[0];
        d[195] = Bin_Encode(static_cast<std::int16_t>(c.count))[1];
        PurchaseRequest q;
        PurchaseItems items;
        EXPECT_EQ(WS_DecodePurchase(d, q, items), c.ok) << c.count << " " << c.extra;
        if (c.ok) {
            EXPECT_EQ(WS_ItemCount(items), c.count);
        }
    }
    PurchaseRequest q;
    PurchaseItems items;
    EXPECT_FALSE(WS_DecodePurchase(base.substr(0, 195), q, items));
}

TEST(WsLayouts, ApprovalEchoesItemAmounts)
{
    auto n64 = [](std::int64_t v) { return Bin_Encode(v); };
    const std::string amount = n64(125000);
    EXPECT_EQ(WS_ApprovalData({20261207, 101530, 125000}, SampleItems(2)),
              Byte(0) + Byte(0) + Bin_Encode(std::int32_t(20261207)) + Bin_Encode(std::int32_t(101530)) + amount + amount +
                  amount + Byte(0xFF) + Byte(0xFF) + Byte(2) + Byte(0) + n64(20000) + n64(-30000) + n64(40000) + n64(-60000));
    EXPECT_EQ(WS_ApprovalData({}, PurchaseItems{}).size(), 38u);
}

TEST(WsLayouts, CardQueryAndCardInformation)
{
    std::string card, second;
    EXPECT_TRUE(WS_ParseCardQuery("4761739001010010         SECOND    ", card, second));
    EXPECT_EQ(card, "4761739001010010");
    EXPECT_EQ(second, "SECOND");
    EXPECT_TRUE(WS_ParseCardQuery("47617", card, second));
    EXPECT_EQ(card, "47617");
    EXPECT_EQ(second, "");

    for (std::int16_t flag : {0, 256}) {
        const std::string d = WS_CardInfoData({"4761739001010010"}, flag);
        EXPECT_EQ(d, "4761739001010010         " + std::string(20, '\0') + "(Pole k\xE4ttesaadav)       " +
                         std::string(250, '\0'));
    }
}

TEST(WsLayouts, ErrorAndDialogueReadBack)
{
    const std::string e = WS_ErrorData(7, "Tundmatu p\xE4ring");
    ASSERT_EQ(e.size(), 54u);
    EXPECT_EQ(e.substr(0, 2), Byte(7) + Byte(0));
    EXPECT_EQ(e.substr(52), std::string(2, '\0'));
    std::int16_t code = 0;
    std::string text;
    EXPECT_TRUE(WS_ParseError(e, code, text));
    EXPECT_EQ(code, 7);
    EXPECT_EQ(text, "Tundmatu p\xE4ring");
    EXPECT_EQ(WS_ErrorData(32, std::string(60, 'y')).size(), 54u);

    const std::string d = WS_DialogData("Kas allkiri on korras?\r\nJah/Ei", "");
    ASSERT_EQ(d.size(), 170u);
    std::string prompt, second;
    EXPECT_TRUE(WS_ParseDialog(d, prompt, second));
    EXPECT_EQ(prompt, "Kas allkiri on korras?\r\nJah/Ei");
    EXPECT_EQ(second, "");

    struct Case { std::string second; std::int16_t number; } cases[] = {
        {"", 0}, {"12", 12}, {"12abc", 12}, {"-3", -3}, {"abc", 0}, {"99999", 32767}, {"4.7", 4},
    };
    for (const auto& c : cases) {
        std::int16_t n = -1;
        EXPECT_TRUE(WS_ParseDialogNumber(WS_DialogData("Summa?", c.second), prompt, n));
        EXPECT_EQ(prompt, "Summa?");
        EXPECT_EQ(n, c.number) << c.second;
    }
}

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
