#include "tests/support/suite.h"

TEST(TestClockWaits, ASilentWaitAndPausesJumpAheadInRealMilliseconds)
{
    TestClock clock(QDateTime(QDate(2026, 12, 6), QTime(14, 0)), 20);
    ClockScope scope(clock);
    QElapsedTimer real;
    real.start();
    const auto t0 = Clock_Ms();
    EXPECT_FALSE(Clock_WaitUntil([] { return false; }, 120'000));
    EXPECT_GE(Clock_Ms() - t0, 120'000);
    EXPECT_LT(real.elapsed(), 2'000);
    EXPECT_GE(Clock_Now(), QDateTime(QDate(2026, 12, 6), QTime(14, 2)));
    const auto t1 = Clock_Ms();
    for (int i = 0; i < 30; ++i)
        Clock_Pause(500);
    EXPECT_GE(Clock_Ms() - t1, 15'000);
    EXPECT_LT(real.elapsed(), 3'000);
}

TEST(ClockWaits, AnEventThatArrivesEndsTheWaitBeforeTheDeadlineAndARealWaitSleepsUntilIt)
{
    QElapsedTimer real;
    real.start();
    EXPECT_FALSE(Clock_WaitUntil([] { return false; }, 60));
    EXPECT_GE(real.elapsed(), 55);
    TestClock clock(QDateTime::currentDateTime(), 500);
    ClockScope scope(clock);
    bool fired = false;
    QTimer::singleShot(30, [&] { fired = true; });
    const auto t0 = Clock_Ms();
    EXPECT_TRUE(Clock_WaitUntil([&] { return fired; }, 15'000));
    EXPECT_LT(Clock_Ms() - t0, 15'000);
}

TEST(TenSecondJobs, RunOnceInEachTenSecondsEvenWhenATickStepsOverTheRoundSecond)
{
    const auto at = [](int h, int m, int s, int ms = 0) { return QDateTime(QDate(2026, 12, 7), QTime(h, m, s, ms)); };
    std::int64_t last = kNoTenSeconds;
    EXPECT_FALSE(Clock_TenSecondsDue(at(10, 0, 5), last));   // the first tick, not on a round second
    EXPECT_FALSE(Clock_TenSecondsDue(at(10, 0, 9, 970), last));
    EXPECT_TRUE(Clock_TenSecondsDue(at(10, 0, 11, 20), last));  // the tick of :10 came late
    EXPECT_FALSE(Clock_TenSecondsDue(at(10, 0, 12), last));
    EXPECT_TRUE(Clock_TenSecondsDue(at(10, 0, 20), last));
    EXPECT_FALSE(Clock_TenSecondsDue(at(10, 0, 20, 500), last));  // twice in one second: once
    EXPECT_TRUE(Clock_TenSecondsDue(at(10, 1, 0), last));

    std::int64_t fresh = kNoTenSeconds;
    EXPECT_TRUE(Clock_TenSecondsDue(at(10, 0, 30), fresh));  // the first tick on a round second
}
