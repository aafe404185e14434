#include "transactions/card.h"

#include "tests/transactions/suite.h"

TEST(CardNumber, LeadingDigitsWithTheirCheckDigitAreTheCardNumber)
{
    const std::string form(kCardBadForm), sum(kCardBadCheckDigit);
    struct Case { std::string si; std::int16_t result; std::string so; } cases[] = {
        {"4921000000000008=0312101123456789", -1, "4921000000000008"}, {"4921000000000008", -1, "4921000000000008"},
        {"79927398713", -1, "79927398713"}, {"4921000000000007", 0, sum}, {"=4921000000000008", 0, form},
        {"", 0, form}, {std::string("\xFF\x00" "1", 3), 0, form},
        {"0", -1, "0"}, {"5", 0, sum},   // a single digit has an empty base, whose check digit is 0
        // Element 2 carries 19 digits: a longer number would reach the card centre cut into another card's.
        {"4921000000000000003", -1, "4921000000000000003"}, {"49210000000000000009", 0, form},
        {std::string(100000, '0'), 0, form},
    };
    for (const auto& c : cases) {
        std::string so = "unset";
        EXPECT_EQ(Kaart_GetRealNumber(c.si, so), c.result) << c.si.substr(0, 40);
        EXPECT_EQ(so, c.so) << c.si.substr(0, 40);
    }
}

TEST(CardNumber, CheckDigitDoublesTheRightmostDigit)
{
    struct Case { std::string digits; std::int16_t check; } cases[] = {
        {"7992739871", 3}, {"492100000000000", 8}, {"", 0}, {"9", 1}, {"18", 2},
        {"12a4", -1}, {"-1", -1}, {std::string(1'000'000, '9'), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Kaart_ControlSum(c.digits), c.check) << c.digits.substr(0, 20);
}

TEST(CardNumber, ExpiryIsTheFourDigitsAfterTheSeparator)
{
    struct Case { std::string si; std::int16_t expiry; } cases[] = {
        {"4921000000000008=0312101123456789", 312}, {"4921000000000008=", 0}, {"4921000000000008", 0},
        {"4921000000000008=7", 7}, {"4921000000000008=12X4", 12}, {"4921000000000008==0312", 0},
        {"=0312", 312}, {"", 0}, {std::string(70000, '4') + "=9999", 9999},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Kaart_GetDate(c.si), c.expiry) << c.si.substr(0, 40);
}

TEST(CardDataField, PositionsGiveTrackFlagAndExpiry)
{
    const std::string track = "4921000000000008=0312101", padded = track + std::string(16, ' ');
    struct Case { std::string field; std::string track2; bool fromCard; std::int16_t exp; } cases[] = {
        {padded + "0" + "0312" + "     ", track, true, 312}, {padded + "1" + "2701", track, false, 2701},
        {padded + "X" + "2701", track, true, 2701},   // a flag that is no digit reads as 0
        {padded + " " + "27ab", track, true, 27}, {padded + "0" + "9e99", track, true, 9999},
        {padded + "0" + "nan", track, true, 0}, {"4921", "4921", true, 0}, {"", "", true, 0},
    };
    for (const auto& c : cases) {
        const CardDataField d = CardData_Read(c.field);
        EXPECT_EQ(d.track2, c.track2) << c.field;
        EXPECT_EQ(d.readFromCard, c.fromCard) << c.field;
        EXPECT_EQ(d.expDate, c.exp) << c.field;
        EXPECT_EQ(d.expiry, c.field.size() > 41 ? c.field.substr(41, 4) : "") << c.field;
    }
    // The operator's card text: read from the card, with the expiry after the separator.
    EXPECT_EQ(CardData_FromCardText(track), padded + "0" + "0312" + "     ");
    EXPECT_EQ(CardData_FromCardText("4921000000000008"), "4921000000000008" + std::string(24, ' ') + "00000     ");
    EXPECT_EQ(CardData_FromCardText(std::string(16, '4') + "=2702" + std::string(40, '1')),
              std::string(16, '4') + "=2702" + std::string(19, '1') + "0" + "2702" + "11111");
}

// (The setting missing, the default allows it: the flows' tests.)
TEST(CardChecks, KeyedInNumberRefusedOnlyWhenTheSettingForbidsIt)
{
    QTemporaryDir home;
    test::UseTestHome(home.path());
    struct Case { std::int16_t posCode; const char* setting; bool allowed; } cases[] = {
        {0, "-1", true}, {0, "0", false}, {0, "nein", false}, {2, "0", false},
        {1, "0", true}, {3, "0", true},   // read from the card: the setting has no effect
    };
    for (const auto& c : cases) {
        Cfg_Put("AllowManualPAN", c.setting);
        EXPECT_EQ(Card_KeyedInAllowed(c.posCode), c.allowed) << c.posCode << " " << c.setting;
    }
}

TEST(CardChecks, ValidThroughTheWholeExpiryMonth)
{
    const DateTime today{2026, 12, 7, 10, 0, 0};
    struct Case { std::int16_t exp; DateTime now; bool expired; } cases[] = {
        {2612, {2026, 12, 1, 0, 0, 0}, false}, {2612, {2026, 12, 31, 23, 59, 59}, false},
        {2612, {2027, 1, 1, 0, 0, 0}, false}, {2612, {2027, 1, 1, 0, 0, 1}, true},
        {2611, today, true}, {312, today, true}, {9912, today, true}, {0, {1999, 12, 7, 10, 0, 0}, true},
        // Two-digit years are read within fifty years of today, so cards into the 2030s pass.
        {3001, today, false}, {7512, today, false}, {7612, today, true}, {5001, {2049, 1, 15, 10, 0, 0}, false},
        {2613, today, true}, {2700, today, true}, {-5, today, true}, {10012, today, true},   // no month of a year
    };
    for (const auto& c : cases)
        EXPECT_EQ(Card_Expired(c.exp, c.now), c.expired) << c.exp << " on " << c.now.year << "-" << c.now.month
                                                         << "-" << c.now.day << " " << c.now.second;
}

TEST(CardChecks, PresentAnswerIsTheLastFourDigitsOrThePrintedExpiry)
{
    const std::string pan = "4921000000001234", field = std::string(41, ' ') + "2701";
    struct Case { std::string answer, pan, field; bool passes; } cases[] = {
        {"1234", pan, field, true}, {"2701", "4921000000000008", field, true}, {"01234", pan, field, false},
        {"234", pan, field, false}, {"", "", "", false}, {"12", "12", std::string(41, ' ') + "12", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Card_PresentAnswerMatches(c.answer, c.pan, c.field), c.passes) << c.answer << " / " << c.pan;
}
