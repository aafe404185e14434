#include "protocol/frame.h"

#include "tests/protocol/suite.h"

#include <optional>
#include <string>
#include <vector>

namespace {

std::string Bytes(std::vector<int> codes)
{
    std::string s;
    for (int c : codes)
        s += static_cast<char>(c);
    return s;
}

std::string AllCodes()
{
    std::string s;
    for (int c = 0; c < 256; ++c)
        s += static_cast<char>(c);
    return s;
}

} // namespace

TEST(FrameCheck, AdditiveCheckCharacters)
{
    struct Case { std::string text; int code; } cases[] = {
        {"", 32}, {"abc", 70}, {"AB", 37}, {"\xC0", 32 + ((0xC0 + 3) & 63)},
    };
    for (const auto& c : cases) {
        auto ch = KK_CheckChar(c.text);
        ASSERT_TRUE(ch) << c.text;
        EXPECT_EQ(static_cast<unsigned char>(*ch), c.code) << c.text;
    }
}

TEST(FrameCheck, AdditiveSumPastSignedSixteenBitsCannotBeChecked)
{
    // 128 x 0xFF = 32 640 still fits; two more bytes of 0x40 pass 32 767.
    std::string fits(128, '\xFF');
    EXPECT_TRUE(KK_CheckChar(fits));
    EXPECT_FALSE(KK_CheckChar(fits + "\x40\x40"));
    // 32 767 - 0xC0 bits: a sum of 32 767 exactly (0x7FFF) adds 3 in step 2 and overflows.
    std::string edge(128, '\xFF');
    edge += static_cast<char>(127);
    EXPECT_FALSE(KK_CheckChar(edge));
}

TEST(FrameCheck, CrcOfTheNineDigits)
{
    EXPECT_EQ(KK_Crc16("123456789"), 0x31C3);
    EXPECT_EQ(KK_Crc16(""), 0);
    EXPECT_EQ(KK_Crc16("56789", KK_Crc16("1234")), 0x31C3);   // taken in pieces, as a packet's CRC is
    EXPECT_EQ(KK_CrcCheck("123456789"), Bytes({0x23, 0x27, 0x23}));
    EXPECT_EQ(KK_Crc16(Bytes({0x20, 0x27, 0x33, 0x61, 0x62, 0x63})), 0x708B);
}

TEST(FrameEscape, EveryExampleCode)
{
    struct Case { int code; std::vector<int> escaped; } cases[] = {
        {0x00, {0x23, 0x40}}, {0x0D, {0x23, 0x4D}}, {0x7F, {0x23, 0x3F}}, {0x23, {0x23, 0x23}},
        {0x26, {0x23, 0x26}}, {0x7E, {0x23, 0x7E}}, {0xC1, {0x26, 0x41}}, {0x80, {0x26, 0x23, 0x40}},
        {0xA3, {0x26, 0x23, 0x23}}, {0xFF, {0x26, 0x23, 0x3F}}, {0x41, {0x41}},
    };
    for (const auto& c : cases) {
        const std::string payload = Bytes({c.code});
        EXPECT_EQ(KK_Escape(payload), Bytes(c.escaped)) << c.code;
        EXPECT_EQ(KK_Unescape(Bytes(c.escaped)), payload) << c.code;
    }
}

// A repeat prefix, then the high bit, then the quote; a prefix with nothing after it is malformed.
TEST(FrameEscape, RepeatPrefixAndPrefixesAtTheEnd)
{
    struct Case { std::vector<int> text; std::optional<std::string> payload; } cases[] = {
        {{0x7E, 0x25, 0x5A}, "ZZZZZ"}, {{0x7E, 0x21, 0x5A}, "Z"}, {{0x7E, 0x20, 0x5A}, "Z"},
        {{0x7E, 0x10, 0x5A}, "Z"},                    // a count below zero still gives one
        {{0x26, 0x23, 0x41}, "\x81"}, {{0x7E, 0x23, 0x26, 0x23, 0x40}, "\x80\x80\x80"}, {{}, ""},
        {{0x23}, {}}, {{0x26}, {}}, {{0x7E}, {}}, {{0x7E, 0x25}, {}}, {{0x41, 0x26, 0x23}, {}}, {{0x7E, 0x25, 0x26}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KK_Unescape(Bytes(c.text)), c.payload) << Bytes(c.text);
}

TEST(FrameFull, WorkedFramesOfEveryCheckType)
{
    struct Case { std::string frame, payload; bool built; } cases[] = {
        {Bytes({0x01, 0x20, 0x25, 0x31, 0x61, 0x62, 0x63, 0x3E, 0x0D}), "abc", true},
        {Bytes({0x01, 0x20, 0x2F, 0x31, 0x23, 0x41, 0x23, 0x40, 0x41, 0x23, 0x23, 0x26, 0x41, 0x23, 0x7E, 0x23, 0x4D,
                0x27, 0x0D}),
         Bytes({0x01, 0x00, 0x41, 0x23, 0xC1, 0x7E, 0x0D}), true},
        {Bytes({0x01, 0x20, 0x22, 0x31, 0x54, 0x0D}), "", true},
        {Bytes({0x01, 0x20, 0x27, 0x33, 0x61, 0x62, 0x63, 0x27, 0x22, 0x2B, 0x0D}), "abc", false},   // CRC
        {Bytes({0x01, 0x20, 0x27, 0x33, 0x61, 0x62, 0x78, 0x27, 0x22, 0x2B, 0x0D}), "", false},      // CRC wrong
        // an unknown check type: no check, the payload runs to the character before CR
        {Bytes({0x01, 0x20, 0x24, 0x35, 0x61, 0x62, 0x63, 0x0D}), "abc", false},
        {Bytes({0x01, 0x20, 0x21, 0x30, 0x0D}), "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KK_Unframe(c.frame), c.payload) << c.frame;
        if (c.built) {
            EXPECT_EQ(KK_Frame(c.payload), c.frame) << c.frame;
        }
    }
}

TEST(FrameFull, EveryCodeSurvivesAndStaysPrintable)
{
    const std::string frame = KK_Frame(AllCodes());
    ASSERT_FALSE(frame.empty());
    EXPECT_TRUE(std::all_of(frame.begin() + 1, frame.end() - 1, [](char c) { return c >= 32 && c <= 126; }));
    EXPECT_EQ(KK_Unframe(frame), AllCodes());
}

// One arrival may hold several frames, and bytes that only look like the start of one.
TEST(FrameFull, EveryFrameOfAnArrivalIsReadPastBrokenOnes)
{
    const std::string arrival = "x\x01" + KK_Frame("A") + "\x01zz" + KK_Frame("B") + "\r\n";
    EXPECT_EQ(KK_UnframeAll(arrival), (std::vector<std::string>{"A", "B"}));
}

TEST(FrameFull, OverflowBuildsNothing)
{
    EXPECT_EQ(KK_Frame(std::string(400, '\xFF')), "");
    EXPECT_EQ(KK_FrameSimple(std::string(200, '\xFF')), "");
}

TEST(FrameFull, InvalidFramesGiveEmptyText)
{
    const std::string good = KK_Frame("abc");
    std::string lengthPlusOne = good;
    lengthPlusOne[2] = static_cast<char>(lengthPlusOne[2] + 1);
    std::string lengthMinusOne = good;
    lengthMinusOne[2] = static_cast<char>(lengthMinusOne[2] - 1);
    std::string badCheck = good;
    badCheck[good.size() - 2] = '!';
    const std::vector<std::string> bad = {
        "", "\x01", "\x01\x0D", good.substr(1), good.substr(0, good.size() - 1), lengthPlusOne,
        lengthMinusOne, badCheck,
        Bytes({0x01, 0x20, 0x21, 0x31, 0x0D}),          // check type "1" with no room for a check
        Bytes({0x01, 0x20, 0x23, 0x33, 0x41, 0x0D}),    // check type "3" with no room for a CRC
        Bytes({0x01, 0x20, 0x23, 0x35, 0x41, 0x23, 0x0D}), // unchecked, but ends in a quote prefix
        // printable, right length, but its additive check overflows: it cannot be accepted
        "\x01" + Bytes({32 + 3, 32 + 17}) + "1" + std::string(300, 'z') + "A\x0D",
    };
    for (const auto& b : bad)
        EXPECT_EQ(KK_Unframe(b), "") << b.size();
}

TEST(FrameSimple, FramesAndUnframes)
{
    EXPECT_EQ(KK_FrameSimple("abc"), Bytes({0x01, 0x61, 0x62, 0x63, 0x46, 0x0D}));
    EXPECT_EQ(KK_UnframeSimple(Bytes({0x01, 0x61, 0x62, 0x63, 0x46, 0x0D})), "abc");
    EXPECT_EQ(KK_UnframeSimple(KK_FrameSimple("")), "");
    EXPECT_EQ(KK_UnframeSimple(KK_FrameSimple("TRANS 12;34")), "TRANS 12;34");
    const std::vector<std::string> bad = {
        "", "\x01", "\x01\x0D", Bytes({0x01, 0x61, 0x62, 0x63, 0x47, 0x0D}),
        Bytes({0x02, 0x61, 0x62, 0x63, 0x46, 0x0D}), Bytes({0x01, 0x61, 0x62, 0x63, 0x46, 0x0A}),
    };
    for (const auto& b : bad)
        EXPECT_EQ(KK_UnframeSimple(b), "") << b.size();
}
