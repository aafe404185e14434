#include "protocol/messages.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/common/records.h"
#include "tests/common/test_home.h"

#include "tests/protocol/suite.h"

#include <QTemporaryDir>

#include <climits>
#include <functional>

namespace {

std::string B(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// The elements of an approval in the card centre's layouts.
std::string Approval(const std::string& date7 = "1206140359", bool with39 = true)
{
    std::string bitmap = B({0x72, 0x24, 0x00, 0x00, 0x26, 0x80, 0x00, 0x00});   // 2 3 4 7 11 14 35 38 39 41
    if (!with39) bitmap[4] = static_cast<char>(0x24);
    return bitmap + KK_FormatField(2, 19, false, "4000001234567899") + KK_FormatField(2, 6, true, "000580") +
           KK_FormatField(2, 12, true, "000000001234") + KK_FormatField(2, 10, true, date7) +
           KK_FormatField(2, 6, true, "000124") + KK_FormatField(2, 4, true, "2812") +
           KK_FormatField(9, 37, false, "4000001234567899\r2812101") + KK_FormatField(4, 6, true, "AB1234") +
           (with39 ? "00" : "") + "TERM0001";
}

} // namespace

TEST(PackDigits, RunsOfDigitsPackTwoToAByteAndOtherCharactersStandBetween)
{
    const std::pair<std::string, std::string> rows[] = {
        {"1234", B({0x12, 0x34})},
        {"123", B({0x01, 0x23})},                           // an odd run gains a leading 0
        {"233", B({0x02, 0x33})},
        {"9\r28", B({0x9D, 0x28})},                          // CR is the nibble D
        {"9\r2", B({0x09, 0xD2})},
        {"1\n", B({0x1A})},                                  // LF is the nibble A
        {"12A345", "\x12" "A" + B({0x03, 0x45})},            // each run on its own
        {"-5", "-" + B({0x05})},
        {"", ""},
        {"AB", "AB"},
    };
    for (const auto& [text, packed] : rows)
        EXPECT_EQ(KK_PackDigits(text), packed) << text;
}

// Only the bytes the count needs are taken; a body that ends too soon is invalid and untouched.
TEST(UnpackDigits, WalksOnlyTheBytesItNeedsOrLeavesTheBodyAlone)
{
    // digits nullptr: invalid
    struct Row { std::string body; int count; const char* digits; std::size_t left; } rows[] = {
        {B({0x12, 0x34, 0x56}), 4, "1234", 1},
        {B({0x01, 0x23}), 3, "123", 0},
        {B({0x9D, 0x28}), 4, "9=28", 0},          // track-2's separator comes back as "="
        {B({0xFF, 0x12}), 3, "\xFF" "12", 0},     // a byte that is no packed pair stands for itself
        {B({0x12}), 0, "", 1},
        {B({0x04, 0x00}), 3, "400", 0},
        {"", 1, nullptr, 0}, {B({0x12}), 3, nullptr, 1}, {B({0x12, 0x34}), 5, nullptr, 2}, {"\xFF", 2, nullptr, 1},
    };
    for (const auto& r : rows) {
        std::string_view body = r.body;
        std::string digits = "kept";
        EXPECT_EQ(KK_UnpackDigits(body, r.count, digits), r.digits != nullptr) << r.count;
        EXPECT_EQ(digits, r.digits ? r.digits : "kept");
        EXPECT_EQ(body.size(), r.left) << r.count;
    }
}

TEST(FormatField, ElementsArePaddedCutPrefixedAndPackedByTheirLayout)
{
    struct Row { int type, width; bool fixed; std::string value, encoded; } rows[] = {
        // (a 16-digit PAN, the defaults, the track and empty PIN data are in the whole bodies below)
        // a 19-digit PAN: length 19, then 10 bytes with a leading 0 nibble
        {2, 19, false, "4000001234567899012",
         B({0x19, 0x04, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0x90, 0x12})},
        {2, 6, true, "123", B({0x00, 0x01, 0x23})},              // short numbers gain zeros in front
        {2, 4, true, "123456", B({0x34, 0x56})},                 // long numbers keep their right end
        {2, 11, false, "123456789012345", B({0x11, 0x05, 0x67, 0x89, 0x01, 0x23, 0x45})},
        {2, 11, false, "", B({0x00})},
        {7, 8, true, "AB", "AB      "},                            // short texts gain spaces behind
        {7, 4, true, "ABCDEF", "ABCD"},                             // long texts keep their left end
        {7, 999, false, "abc", B({0x00, 0x03}) + "abc"},          // a width of 100 or more: 4 digits
        {4, 38, false, "abc", B({0x03}) + "abc"},
        {7, 999, false, std::string(150, 'x'), B({0x01, 0x50}) + std::string(150, 'x')},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(KK_FormatField(r.type, r.width, r.fixed, r.value), r.encoded) << r.value;
        // What ParseField reads back formats to the same bytes, and the rest of the body is left.
        const std::string body = r.encoded + "rest";
        std::string_view left = body;
        std::string value;
        ASSERT_TRUE(KK_ParseField(r.type, r.width, r.fixed, left, value)) << r.value;
        EXPECT_EQ(left, "rest") << r.value;
        EXPECT_EQ(KK_FormatField(r.type, r.width, r.fixed, value), r.encoded) << r.value;
    }
}

TEST(ParseField, ALengthThatIsNoNumberOrRunsPastTheBodyIsInvalid)
{
    struct Row { int type, width; bool fixed; std::string body; } rows[] = {
        {2, 19, false, ""},                          // no length at all
        {2, 19, false, B({0x16, 0x40, 0x00})},       // 16 digits announced, 4 present
        {7, 38, false, B({0x05}) + "abc"},
        {7, 38, false, "\xAB" "abcdef"},             // the length byte is no pair of digits
        {7, 38, false, B({0x3D}) + "abc"},           // nor is a D nibble
        {7, 999, false, B({0x00})},                  // a 4-digit length needs two bytes
        {7, 8, true, "TERM"},
        {2, 6, true, B({0x00, 0x05})},
    };
    for (const auto& r : rows) {
        std::string_view body = r.body;
        std::string value;
        EXPECT_FALSE(KK_ParseField(r.type, r.width, r.fixed, body, value)) << r.width;
        EXPECT_EQ(body.size(), r.body.size());
    }
}

TEST(ResponseYear, AMonthMoreThanHalfAYearAwayBelongsToTheNeighbouringYear)
{
    struct Row { int received, year, month, expected; } rows[] = {
        {1, 2026, 12, 2027},  {12, 2027, 1, 2026}, {12, 2026, 12, 2026}, {6, 2026, 12, 2026},
        {5, 2026, 12, 2027},  {7, 2026, 1, 2026},  {8, 2026, 1, 2025},   {1, 2026, 1, 2026},
        {11, 2027, 1, 2026}, {2, 2026, 11, 2027}, {0, 2026, 12, 2027},
    };
    for (const auto& r : rows)
        EXPECT_EQ(KK_ResponseYear(r.received, r.year, r.month), r.expected) << r.received << " " << r.month;
}

TEST(DecodeResponse, AnApprovalFillsTheRecordAndOneWithoutElement39HasNoVerdict)
{
    TransRecord t;
    t.ResponseCode = "99";
    ASSERT_TRUE(KK_DecodeResponse(Approval(), t, 2026, 12));
    EXPECT_EQ(t.PAN, "4000001234567899");
    EXPECT_EQ(t.WayOfUse, 3);            // digits 3 and 4 ("05") minus 2
    EXPECT_EQ(t.Amount, 123400);         // 12.34
    EXPECT_EQ(t.Date, 20261206);
    EXPECT_EQ(t.Time, 140359);
    EXPECT_EQ(t.STAN, "000124");
    EXPECT_EQ(t.ExpDate, 2812);
    EXPECT_EQ(t.Track2, "4000001234567899=2812101");
    EXPECT_EQ(t.AuthCode, "AB1234");
    EXPECT_EQ(t.ResponseCode, "00");

    // A complete response without element 39, or with an empty bitmap, has no verdict.
    t.ResponseCode = "05";
    ASSERT_TRUE(KK_DecodeResponse(Approval("1206140359", false), t, 2026, 12));
    EXPECT_EQ(t.ResponseCode, "");
    t.ResponseCode = "03";
    EXPECT_TRUE(KK_DecodeResponse(std::string(8, '\0'), t, 2026, 12));
    EXPECT_EQ(t.ResponseCode, "");

    // Without a year given, the date's year comes from the clock (the turn itself is ResponseYear's).
    TestClock clock(QDateTime(QDate(2026, 12, 31), QTime(12, 0)));
    ClockScope scope(clock);
    ASSERT_TRUE(KK_DecodeResponse(Approval("0101000001"), t));
    EXPECT_EQ(t.Date, 20270101);
}

TEST(DecodeResponse, EachElementOfTheResponseSetsItsField)
{
    // An element's encoded value, the byte and bit of the bitmap that name it, what it sets.
    struct Row { std::string element; int byte, bit; std::function<bool(const TransRecord&)> check; } rows[] = {
        {KK_FormatField(2, 6, true, "001080"), 0, 0x20, [](const TransRecord& t) { return t.WayOfUse == 8; }},
        {KK_FormatField(2, 6, true, "000080"), 0, 0x20, [](const TransRecord& t) { return t.WayOfUse == 0; }},
        {KK_FormatField(2, 12, true, "999999999999"), 0, 0x10, [](const TransRecord& t) { return t.Amount == 99999999999900; }},
        // (element 39 as "N7" or two spaces is the flows' decline table)
        {"51", 4, 0x02, [](const TransRecord& t) { return t.ResponseCode == "51"; }},
        {KK_FormatField(2, 11, false, "12345"), 3, 0x01, [](const TransRecord& t) { return t.PAN == "kept"; }},
        {KK_FormatField(2, 11, false, "12345"), 4, 0x80, [](const TransRecord& t) { return t.PAN == "kept"; }},
        {KK_FormatField(7, 38, false, "Tallinn"), 5, 0x20, [](const TransRecord& t) { return t.PAN == "kept"; }},
        {KK_FormatField(7, 40, false, std::string(23, 'a')), 5, 0x02, [](const TransRecord& t) { return t.PAN == "kept"; }},
        {KK_FormatField(2, 3, true, "233"), 6, 0x80, [](const TransRecord& t) { return t.PAN == "kept"; }},
        {KK_FormatField(8, 64, true, ""), 6, 0x10, [](const TransRecord& t) { return t.PAN == "kept"; }},
    };
    for (const auto& r : rows) {
        std::string bitmap(8, '\0');
        bitmap[r.byte] = static_cast<char>(r.bit);
        TransRecord t;
        t.PAN = "kept";
        ASSERT_TRUE(KK_DecodeResponse(bitmap + r.element, t, 2026, 6)) << r.byte << " " << r.bit;
        EXPECT_TRUE(r.check(t)) << r.byte << " " << r.bit;
    }
}

TEST(DecodeResponse, ABodyEndingBeforeItsElementsIsNoResponseAndLeavesTheRecord)
{
    const std::string full = Approval();
    for (std::size_t n = 0; n < full.size(); ++n) {
        TransRecord t;
        t.ResponseCode = "07";
        t.PAN = "kept";
        EXPECT_FALSE(KK_DecodeResponse(std::string_view(full).substr(0, n), t, 2026, 12)) << n;
        EXPECT_EQ(t.ResponseCode, "07");
        EXPECT_EQ(t.PAN, "kept");
    }
}

TEST(DecodeResponse, ABitmapNamingAnElementOutsideTheTableIsNoResponse)
{
    const int unknown[] = {5, 6, 12, 37, 48, 64};
    for (int n : unknown) {
        std::string bitmap(8, '\0');
        bitmap[(n - 1) / 8] = static_cast<char>(0x80 >> ((n - 1) % 8));
        TransRecord t;
        EXPECT_FALSE(KK_DecodeResponse(bitmap + std::string(64, '0'), t, 2026, 12)) << n;
    }
}

TEST(DecodeResponse, TheSecondaryBitmapIsReadAsElementOne)
{
    const std::string primary = B({0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00});   // 1, 39
    const std::string with90 = B({0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00});
    const std::string original = KK_FormatField(2, 42, true, "0100000123120614035900000000001000000000002");
    TransRecord t;
    ASSERT_TRUE(KK_DecodeResponse(primary + with90 + "05" + original, t, 2026, 12));
    EXPECT_EQ(t.ResponseCode, "05");
    // Without element 90's bytes, or with an element of the secondary bitmap we do not know.
    EXPECT_FALSE(KK_DecodeResponse(primary + with90 + "05", t, 2026, 12));
    const std::string with100 = B({0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00});
    EXPECT_FALSE(KK_DecodeResponse(primary + with100 + "05" + original, t, 2026, 12));
    EXPECT_FALSE(KK_DecodeResponse(primary + "\x00\x00\x00", t, 2026, 12));
}

TEST(KKNumber, DigitsWithLeadingZerosAndASign)
{
    const std::tuple<std::int64_t, int, const char*> rows[] = {
        {42, 5, "00042"}, {0, 6, "000000"}, {1234567, 5, "1234567"}, {-5, 3, "-005"},
        {INT64_MIN, 1, "-9223372036854775808"}, {7, 0, "7"},
    };
    for (const auto& [v, digits, text] : rows)
        EXPECT_EQ(KK_Number(v, digits), text) << v;
}

