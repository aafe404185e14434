#include "transactions/card.h"

#include "support/config.h"
#include "support/home.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace tollan;

namespace {

std::string Number(std::string_view si, std::int16_t& result)
{
    std::string so = "unset";
    result = Kaart_GetRealNumber(si, so);
    return so;
}

} // namespace

TEST(CardNumber, LeadingDigitsWithTheirCheckDigitAreTheCardNumber)
{
    struct Case { std::string si; std::int16_t result; std::string so; } cases[] = {
        {"4921000000000008=0312101123456789", -1, "4921000000000008"},
        {"4921000000000008", -1, "4921000000000008"},
        {"4921000000000008 0312", -1, "4921000000000008"},
        {"79927398713", -1, "79927398713"},
        {"4921000000000007", 0, std::string(kCardBadCheckDigit)},
        {"=4921000000000008", 0, std::string(kCardBadForm)},
        {"", 0, std::string(kCardBadForm)},
        {" 4921000000000008", 0, std::string(kCardBadForm)},
        {std::string("\xFF\x00" "1", 3), 0, std::string(kCardBadForm)},
        // A single digit has an empty base, whose check digit is 0.
        {"0", -1, "0"},
        {"5", 0, std::string(kCardBadCheckDigit)},
        // Element 2 carries 19 digits: a longer number would be cut into another card's.
        {"4921000000000000003", -1, "4921000000000000003"},
        {"49210000000000000009", 0, std::string(kCardBadForm)},
        {std::string(100000, '0'), 0, std::string(kCardBadForm)},
    };
    for (const auto& c : cases) {
        std::int16_t result = 7;
        EXPECT_EQ(Number(c.si, result), c.so) << c.si.substr(0, 40);
        EXPECT_EQ(result, c.result) << c.si.substr(0, 40);
    }
}

TEST(CardNumber, CheckDigitDoublesTheRightmostDigit)
{
    struct Case { std::string digits; std::int16_t check; } cases[] = {
        {"7992739871", 3},
        {"492100000000000", 8},
        {"", 0},
        {"0", 0},
        {"9", 1},       // 18 adds 1 + 8
        {"18", 2},
        {"12a4", -1},   // not digits: no check digit
        {"-1", -1},
        {std::string(1'000'000, '9'), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Kaart_ControlSum(c.digits), c.check) << c.digits.substr(0, 20);
}

TEST(CardNumber, ExpiryIsTheFourDigitsAfterTheSeparator)
{
    struct Case { std::string si; std::int16_t expiry; } cases[] = {
        {"4921000000000008=0312101123456789", 312},
        {"4921000000000008=9912", 9912},
        {"4921000000000008=", 0},        // the separator alone
        {"4921000000000008", 0},
        {"4921000000000008=7", 7},
        {"4921000000000008=12X4", 12},   // a non-digit ends the number
        {"4921000000000008==0312", 0},
        {"=0312", 312},
        {"", 0},
        {std::string(70000, '4') + "=9999", 9999},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Kaart_GetDate(c.si), c.expiry) << c.si.substr(0, 40);
}

TEST(CardDataField, PositionsGiveTrackFlagAndExpiry)
{
    const std::string track = "4921000000000008=0312101";
    const std::string padded = track + std::string(40 - track.size(), ' ');
    struct Case { std::string field; std::string track2; bool fromCard; std::int16_t exp; std::string expiry; } cases[] = {
        {padded + "0" + "0312" + "     ", track, true, 312, "0312"},
        {padded + "1" + "2701", track, false, 2701, "2701"},
        {padded + "9" + "2701", track, false, 2701, "2701"},
        {padded + "X" + "2701", track, true, 2701, "2701"},   // a non-digit flag reads as 0
        {padded + " " + "27ab", track, true, 27, "27ab"},
        {padded + "0" + "-123", track, true, -123, "-123"},
        {padded + "0" + "9e99", track, true, 9999, "9e99"},
        {padded + "0" + "nan", track, true, 0, "nan"},
        {padded + "0" + "-inf", track, true, 0, "-inf"},
        {"4921", "4921", true, 0, ""},
        {"", "", true, 0, ""},
        {std::string(40, ' ') + "0" + "0312", "", true, 312, "0312"},
    };
    for (const auto& c : cases) {
        const CardData d = CardData_Read(c.field);
        EXPECT_EQ(d.track2, c.track2) << c.field;
        EXPECT_EQ(d.readFromCard, c.fromCard) << c.field;
        EXPECT_EQ(d.expDate, c.exp) << c.field;
        EXPECT_EQ(d.expiry, c.expiry) << c.field;
    }
}

TEST(CardDataField, OperatorCardTextIsReadFromTheCardWithItsExpiry)
{
    struct Case { std::string text; std::string field; } cases[] = {
        {"4921000000000008=0312101",
         "4921000000000008=0312101                0" "0312" "     "},
        {"4921000000000008", "4921000000000008                        0" "0000" "     "},
        // A card text reaching past 40 characters gives way to the flag and the expiry.
        {std::string(16, '4') + "=2702" + std::string(40, '1'),
         std::string(16, '4') + "=2702" + std::string(19, '1') + "0" + "2702" + "11111"},
    };
    for (const auto& c : cases) {
        const std::string field = CardData_FromCardText(c.text);
        EXPECT_EQ(field, c.field);
        const CardData d = CardData_Read(field);
        EXPECT_TRUE(d.readFromCard);
        EXPECT_EQ(d.expDate, Kaart_GetDate(c.text));
    }
}

class CardTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        Cfg_Reset();
        Cfg_SetRoot(kCfgRoot);
    }
    void TearDown() override { Cfg_Reset(); }
    QTemporaryDir home;
};

TEST_F(CardTests, KeyedInNumberRefusedOnlyWhenTheSettingForbidsIt)
{
    struct Case { std::int16_t posCode; std::optional<std::string> setting; bool allowed; } cases[] = {
        {0, std::nullopt, true},   // missing: the default allows it
        {0, "-1", true},
        {0, "1", true},
        {0, "0", false},
        {0, "nein", false},        // no number reads as 0
        {2, "0", false},           // a telephone code does not make the card read
        {1, "0", true},            // read from the card: the setting has no effect
        {3, "0", true},
    };
    for (const auto& c : cases) {
        Cfg_Reset();
        QFile::remove(home.filePath("registry.ini"));
        if (c.setting)
            Cfg_Put("AllowManualPAN", *c.setting);
        EXPECT_EQ(Card_KeyedInAllowed(c.posCode), c.allowed) << c.posCode << " " << c.setting.value_or("(none)");
    }
}

TEST(CardExpiry, ValidThroughTheWholeExpiryMonth)
{
    struct Case { std::int16_t exp; DateTime now; bool expired; } cases[] = {
        {2612, {2026, 12, 1, 0, 0, 0}, false},
        {2612, {2026, 12, 31, 23, 59, 59}, false},
        {2612, {2027, 1, 1, 0, 0, 0}, false},      // "later than" the first of the next month
        {2612, {2027, 1, 1, 0, 0, 1}, true},
        {2611, {2026, 12, 7, 10, 0, 0}, true},
        {2701, {2026, 12, 7, 10, 0, 0}, false},
        {312, {2026, 12, 7, 10, 0, 0}, true},
        {9912, {2026, 12, 7, 10, 0, 0}, true},     // 12/99 is December 1999
        {0, {1999, 12, 7, 10, 0, 0}, true},        // no expiry
        // Two-digit years are read within fifty years of today, so cards into the 2030s pass.
        {3001, {2026, 12, 7, 10, 0, 0}, false},
        {7512, {2026, 12, 7, 10, 0, 0}, false},
        {7612, {2026, 12, 7, 10, 0, 0}, true},
        {5001, {2049, 1, 15, 10, 0, 0}, false},
        // No month of a year.
        {2613, {2026, 12, 7, 10, 0, 0}, true},
        {2700, {2026, 12, 7, 10, 0, 0}, true},
        {-5, {2026, 12, 7, 10, 0, 0}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Card_Expired(c.exp, c.now), c.expired) << c.exp << " at " << c.now.year << "-" << c.now.month << "-"
                                                         << c.now.day << " " << c.now.hour << ":" << c.now.second;
}

TEST(CardPresent, AnswerIsTheLastFourDigitsOrThePrintedExpiry)
{
    const std::string field = std::string(40, ' ') + "0" + "1234";
    const std::string other = std::string(40, ' ') + "0" + "2701";
    struct Case { std::string answer; std::string pan; std::string field; bool passes; } cases[] = {
        {"1234", "4921000000001234", other, true},
        {"1234", "4921000000000008", field, true},
        {"2701", "4921000000000008", other, true},
        {"01234", "4921000000001234", field, false},
        {"234", "4921000000001234", field, false},
        {"1234 ", "4921000000001234", field, false},
        {"", "", "", false},
        {"", "4921000000001234", "4921", false},
        {"12", "12", std::string(40, ' ') + "0" + "12", false},
        {"0008", "4921000000000008", "", true},
        {"0008", "", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Card_PresentAnswerMatches(c.answer, c.pan, c.field), c.passes) << c.answer << " / " << c.pan;
}
