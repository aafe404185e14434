// The mask language: fields, numbers, years, day names, carries, matching and the next-time search.

#include "timora/masks.h"
#include "timora/timora_clock.h"

#include "tests/timora/suite.h"

#include <optional>
#include <random>

namespace tollan::sched {
namespace {

Stamp At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return StampOf(QDateTime(QDate(y, mo, d), QTime(h, mi, s)));
}

std::string Show(std::optional<Stamp> s)
{
    return s ? DateTimeOf(*s).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ddd")).toStdString() : "overflow";
}

class ClockedTest : public ::testing::Test {
protected:
    TimoraTestClock clock{QDateTime(QDate(2026, 5, 5), QTime(13, 5, 30))};
    TimoraClockScope scope{clock};
};

// A field's leading number, a two-digit year placed around the current one, a day's number or name.
TEST(TimoraFields, NumbersYearsAndDaysAreReadAsTheMaskRulesSay)
{
    struct Case { QString field; double value; };
    const Case cases[] = {
        {"22", 22}, {"", 0}, {"*", 0}, {"mon", 0}, {"8abc", 8}, {"-3", -3}, {"+4", 4}, {"12.5", 12.5},
        {".5", 0.5}, {"1e2", 100}, {"1e", 1}, {"2x3", 2}, {"\t7", 7}, {"0x10", 0}, {"inf", 0}, {"nan", 0}, {"1,5", 1},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(LeadingNumber(c.field), c.value) << c.field.toStdString();
    struct Year { int now; int y; int expanded; };
    const Year years[] = {
        {1999, 49, 1949}, {1999, 48, 2048}, {1999, 1999, 1999}, {1999, 100, 100}, {1999, 0, 2000},
        {1999, 99, 1999}, {2026, 76, 1976}, {2026, 75, 2075}, {2026, 26, 2026}, {2026, 0, 2000},
        {2075, 24, 2124}, {2075, 25, 2025}, {2000, 50, 1950}, {2000, 49, 2049},
    };
    for (const Year& c : years) {
        TimoraTestClock clock(QDateTime(QDate(c.now, 6, 1), QTime(12, 0)));
        TimoraClockScope scope(clock);
        EXPECT_EQ(ExpandYear(c.y), c.expanded) << c.now << " " << c.y;
    }
    struct Day { QString field; int day; };
    const Day days[] = {
        {"1", 1}, {"3", 3}, {"7", 7}, {"10", 10}, {"1x", 1}, {"0", 0}, {"8", 0}, {"70", 0}, {"*", 0}, {"", 0},
        {"e", 1}, {"Esmaspäev", 1}, {"MON", 1}, {"monday", 1}, {"mo", 1},
        {"t", 2}, {"TEISIPÄEV", 2}, {"tue", 2}, {"k", 3}, {"wednesday", 3}, {"n", 4}, {"Thu", 4},
        {"r", 5}, {"reede", 5}, {"fr", 5}, {"l", 6}, {"laupäev", 6}, {"sat", 6},
        {"p", 7}, {"PÜHAPÄEV", 7}, {"sun", 7}, {"sunday", 7}, {"montag", 0}, {"-1", 0},
    };
    for (const Day& c : days)
        EXPECT_EQ(WeekdayNumber(c.field), c.day) << c.field.toStdString();
    EXPECT_EQ(WeekdayNumber("1999999"), std::nullopt);
}

TEST(TimoraComposeTime, CarriesEveryField)
{
    struct Case { int y, mo, d, h, mi; QDateTime expected; };
    const auto dt = [](int y, int mo, int d, int h = 0, int mi = 0) { return QDateTime(QDate(y, mo, d), QTime(h, mi)); };
    const Case cases[] = {
        {2026, 5, 5, 13, 6, dt(2026, 5, 5, 13, 6)}, {2026, 13, 1, 0, 0, dt(2027, 1, 1)},
        {2026, 0, 1, 0, 0, dt(2025, 12, 1)}, {2026, 25, 1, 0, 0, dt(2028, 1, 1)},
        {2026, -11, 1, 0, 0, dt(2025, 1, 1)}, {2026, 3, 0, 0, 0, dt(2026, 2, 28)},
        {2024, 3, 0, 0, 0, dt(2024, 2, 29)}, {2026, 1, 32, 0, 0, dt(2026, 2, 1)}, {2026, 4, 31, 0, 0, dt(2026, 5, 1)},
        {2026, 2, 29, 0, 0, dt(2026, 3, 1)}, {2026, 1, 1, 0, 60, dt(2026, 1, 1, 1, 0)},
        {2026, 1, 1, 24, 0, dt(2026, 1, 2)}, {2026, 12, 31, 23, 60, dt(2027, 1, 1)},
        {2026, 1, 1, 0, -1, dt(2025, 12, 31, 23, 59)}, {2026, 1, 1, -1, 0, dt(2025, 12, 31, 23, 0)},
        {2026, 1, 400, 0, 0, dt(2027, 2, 4)}, {2026, 1, 1, 0, 32767, dt(2026, 1, 23, 18, 7)},
        {9999, 12, 31, 23, 59, dt(9999, 12, 31, 23, 59)},
    };
    for (const Case& c : cases) {
        const std::optional<Stamp> s = ComposeTime(c.y, c.mo, c.d, c.h, c.mi);
        ASSERT_TRUE(s) << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi;
        EXPECT_EQ(DateTimeOf(*s), c.expected) << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi;
    }
    // The calendar ends with the year 9999 and starts with the year 1.
    EXPECT_EQ(ComposeTime(9999, 12, 31, 24, 0), std::nullopt);
    EXPECT_EQ(ComposeTime(32767, 1, 1, 0, 0), std::nullopt);
    EXPECT_EQ(ComposeTime(0, 1, 1, 0, 0), std::nullopt);
    EXPECT_EQ(ComposeTime(1, 0, 1, 0, 0), std::nullopt);
}

TEST_F(ClockedTest, FitMaskMatchesTheMinuteAndItsQuirks)
{
    struct Case { const char* mask; Stamp moment; bool fits; };
    const Stamp evening = At(2026, 5, 5, 22, 30); // Tuesday
    const Case cases[] = {
        {"* * * 22 30", evening, true}, {"* * * 22 30", At(2026, 5, 5, 22, 30, 59), true},
        {"* * * 22 30", At(2026, 5, 5, 22, 31), false}, {"* * * 22 31", evening, false},
        {"* * * 22 30 *", evening, true}, {"* * * 22 30 2", evening, true}, {"* * * 22 30 1", evening, false},
        // Day names are for the next-time search; here they read 0 and never match.
        {"* * * 22 30 tue", evening, false}, {"* * * 8 0 mon", At(2026, 5, 11, 8, 0), false},
        {"* * * 8 0 1", At(2026, 5, 11, 8, 0), true}, {"2026 5 5 22 30", evening, true},
        {"26 5 5 22 30", evening, true}, {"2025 * * * *", evening, false}, {"* 6 * * *", evening, false},
        {"* * 6 * *", evening, false}, {"* * * 22.0 30", evening, true}, {"* * * 22h 30m", evening, true},
        {"99999 * * * *", evening, false},
        // One or two fields never fit: the missing month or day reads 0.
        {"*", evening, false}, {"*", At(2026, 5, 5), false}, {"* *", At(2026, 5, 5), false},
        // Three fields fit at 00:00 of the days they allow, four at minute 0 of the hours.
        {"* * *", evening, false}, {"* * *", At(2026, 5, 5, 0, 0, 40), true}, {"* * 5", At(2026, 5, 5), true},
        {"* * 6", At(2026, 5, 5), false}, {"* * * 22", evening, false}, {"* * * 22", At(2026, 5, 5, 22, 0), true},
        // Two spaces make an empty field, read as 0.
        {"* * *  22 30", evening, false}, {"* * * 0 0", At(2026, 5, 5), true}, {"* * * * * * extra", evening, true},
        {"", evening, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitMask(c.mask, c.moment), c.fits) << c.mask << " at " << Show(c.moment);
}

TEST_F(ClockedTest, NextMatchSearchesFromTheMinuteUpToTheYear)
{
    struct Case { const char* mask; Stamp start; Stamp expected; };
    const Case cases[] = {
        {"* * * 22", At(2026, 5, 5, 13, 5, 30), At(2026, 5, 5, 22, 5)},
        {"* * * 12 0", At(2026, 5, 5, 13, 0), At(2026, 5, 6, 12, 0)},
        {"* * * 12 0", At(2026, 5, 5, 11, 59, 30), At(2026, 5, 5, 12, 0)},
        // A fixed field is rounded half to even: 12.5 is 12, 13.5 is 14, -0.4 is 0.
        {"* * * 12.5 0", At(2026, 5, 5, 11, 0), At(2026, 5, 5, 12, 0)}, {"* * * 13.5 0", At(2026, 5, 5, 11, 0), At(2026, 5, 5, 14, 0)},
        {"* * * -0.4 0", At(2026, 5, 5, 11, 0), At(2026, 5, 6, 0, 0)}, {"* * * * 32767", At(2026, 5, 5, 11, 0), At(2026, 5, 28, 5, 7)},
        // A "*" keeps the value found for it while the fields above it are searched.
        {"* * * 12 *", At(2026, 5, 5, 13, 5, 30), At(2026, 5, 6, 12, 6)},
        {"* * * * *", At(2026, 5, 5, 13, 5, 30), At(2026, 5, 5, 13, 6)},
        // What a "*" search counted past the end of its range has carried, also under a fixed field.
        {"* * * 22 *", At(2026, 5, 5, 15, 59, 30), At(2026, 5, 5, 22, 0)},
        {"* * * 12 *", At(2026, 5, 5, 13, 59, 30), At(2026, 5, 6, 12, 0)},
        {"* 6 * 12 0", At(2026, 5, 31, 13, 0), At(2026, 6, 1, 12, 0)},
        {"* * * 23 59", At(2026, 12, 31, 23, 59, 30), At(2027, 1, 1, 23, 59)},
        {"* * * * *", At(2026, 5, 5, 13, 6), At(2026, 5, 5, 13, 6)},
        {"* * * 8 0 mon", At(2026, 5, 5, 13, 0), At(2026, 5, 11, 8, 0)},
        {"* * * 8 0 Esmaspäev", At(2026, 5, 5, 13, 0), At(2026, 5, 11, 8, 0)},
        {"* * * 8 0 1", At(2026, 5, 11, 7, 0), At(2026, 5, 11, 8, 0)},
        {"* * * 8 0 *", At(2026, 5, 5, 13, 0), At(2026, 5, 6, 8, 0)},
        // "9" sorts after "7": it is no day number but an unknown name, that is any day.
        {"* * * 8 0 9", At(2026, 5, 5, 13, 0), At(2026, 5, 6, 8, 0)},
        {"* * * 22 30", At(2026, 12, 31, 23, 0), At(2027, 1, 1, 22, 30)},
        {"* 1 1 0 0", At(2026, 5, 5, 13, 0), At(2027, 1, 1, 0, 0)},
        // A named day is that day: a month or year without it is passed over.
        {"* * 31 12 0", At(2026, 6, 5, 13, 0), At(2026, 7, 31, 12, 0)},
        {"* 2 29 0 0", At(2026, 5, 5, 13, 0), At(2028, 2, 29, 0, 0)}, {"* 2 29 0 0", At(2096, 3, 1), At(2104, 2, 29)},
        {"2027 * 29 0 0", At(2024, 2, 28, 13, 0), At(2027, 3, 29, 0, 0)},
        {"* 14 29 0 0", At(2026, 5, 5, 13, 0), At(2028, 2, 29, 0, 0)}, // month 14: February of the next year
        // A day found by the search is kept only as far as the month allows.
        {"* 2 * 0 0", At(2026, 5, 30, 13, 0), At(2027, 2, 28, 0, 0)},
        // A day that none of the allowed months has: no next time.
        {"* 2 30 0 0", At(2026, 5, 5, 13, 0), NoMatchStamp()}, {"* 4 31 * *", At(2026, 5, 5, 13, 0), NoMatchStamp()},
        {"* * 32 0 0", At(2026, 5, 5, 13, 0), NoMatchStamp()}, {"* * 0 0 0", At(2026, 5, 5, 13, 0), NoMatchStamp()},
        {"2027 2 29 0 0", At(2026, 5, 5, 13, 0), NoMatchStamp()},
        // Fixed fields are not compared with the start again.
        {"2020 1 1 0 0", At(2026, 5, 5, 13, 0), At(2020, 1, 1, 0, 0)},
        {"* * * 12 0 *", At(2026, 5, 5, 13, 0), At(2026, 5, 6, 12, 0)},
        // Missing fields keep the start's values.
        {"2027", At(2026, 5, 5, 13, 5, 30), At(2027, 5, 5, 13, 5)},
        // Month 13 carries into January; "0" as a day of week is any day.
        {"* 13 * * * 0", At(2026, 5, 5, 13, 5, 30), At(2027, 1, 5, 13, 6)},
        {"", At(2026, 5, 5, 13, 5, 30), At(2026, 5, 5, 13, 5)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Show(NextMatch(c.mask, c.start)), Show(c.expected)) << c.mask << " from " << Show(c.start);
}

TEST_F(ClockedTest, NextMatchOverflowsInsteadOfLoopingOrCrashingAndNextTimeFromTakesTheEarliestEntry)
{
    for (const char* mask : {"* * * * * 69", "* * * * * 10", "* * * * * 1999999", "* * * 99999 0", "* * * 32767.6 0", "* * * * 32768", "* 5 5 * * 12",
                             "1e999 * * * *", "10000 1 1 0 0", "0 1 1 0 0"})
        EXPECT_EQ(NextMatch(mask, At(2026, 5, 5, 13, 5, 30)), std::nullopt) << mask;

    // The next time of a category is its earliest entry's, an overflow its error.
    const QStringList masks = {"* * * 12 0", "* * * 22 30", "* * * 14 0", "* * * * * 10"};
    const QStringList categories = {"SendTransTime", "SendTransTime", "Other", "Broken"};
    const Stamp start = At(2026, 5, 5, 13, 5, 30);
    EXPECT_EQ(Show(NextTimeFrom(masks, categories, "SendTransTime", start)), Show(At(2026, 5, 5, 22, 30)));
    EXPECT_EQ(Show(NextTimeFrom(masks, categories, "Other", start)), Show(At(2026, 5, 5, 14, 0)));
    // Categories compare exactly.
    EXPECT_EQ(Show(NextTimeFrom(masks, categories, "sendtranstime", start)), Show(NoMatchStamp()));
    EXPECT_EQ(NextTimeFrom(masks, categories, "Broken", start), std::nullopt);
    // The search starts one second after the moment asked about.
    EXPECT_EQ(Show(NextTimeFrom({"* * * * *"}, {"a"}, "a", At(2026, 5, 5, 13, 6))), Show(At(2026, 5, 5, 13, 7)));
    EXPECT_EQ(Show(NextTimeFrom({"* * * * *"}, {"a"}, "a", At(2026, 5, 5, 13, 5, 59))), Show(At(2026, 5, 5, 13, 6)));
}

// Masks of months, days, hours, minutes and weekdays: whatever the start, the search lands at or
// after it on a minute that the mask matches, within a week when only the time of day and the
// weekday are named; only a day that the named month never has gives no next time.
TEST_F(ClockedTest, NextMatchLandsOnAMinuteTheMaskMatches)
{
    std::mt19937 random(20261207);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    const auto field = [&](int lo, int hi) { return pick(0, 2) ? QStringLiteral("*") : QString::number(pick(lo, hi)); };
    for (int n = 0; n < 3000; ++n) {
        const QString month = field(1, 12);
        const QString day = field(1, 31);
        const QString hour = pick(0, 2) ? QString::number(pick(0, 23)) : QStringLiteral("*");
        const QString minute = pick(0, 2) ? QString::number(pick(0, 59)) : QStringLiteral("*");
        QString mask = QStringLiteral("* %1 %2 %3 %4").arg(month, day, hour, minute);
        if (pick(0, 1))
            mask += QLatin1Char(' ') + (pick(0, 3) ? QString::number(pick(1, 7)) : QStringLiteral("*"));
        const Stamp start = At(pick(1990, 2090), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 59), pick(0, 59));
        const std::optional<Stamp> next = NextMatch(mask, start);
        const std::string what = mask.toStdString() + " from " + Show(start) + " gave " + Show(next);
        ASSERT_TRUE(next) << what;
        const bool never = month != "*" && day != "*" && day.toInt() > QDate(2000, month.toInt(), 1).daysInMonth();
        if (never) {
            EXPECT_EQ(*next, NoMatchStamp()) << what;
            continue;
        }
        EXPECT_GE(*next, start) << what;
        EXPECT_TRUE(FitMask(mask, *next)) << what;
        if (month == "*" && day == "*") {
            EXPECT_LT(*next, start + 8 * kSecondsPerDay) << what;
        }
    }
}

} // namespace
} // namespace tollan::sched
