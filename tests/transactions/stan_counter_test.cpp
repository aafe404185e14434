// The trace number counter beside `tollan config set`, which the guide has the operator run while
// the terminal works: two processes saving the same registry.ini again and again.
#include "support/config.h"
#include "tests/common/registry_lock.h"
#include "tests/common/test_home.h"
#include "transactions/flows.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;

TEST(TraceNumbers, NoneRepeatsAndNoSettingIsLostWhileConfigSetSavesTheSameFile)
{
#ifndef TOLLAN_EXE
    GTEST_SKIP() << "built without the tollan program";
#else
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    test::UseTestHome(home.path());
    ASSERT_TRUE(Cfg_Put("NextNumber", "1000"));
    constexpr int kSets = 40;
    QProcess other;  // one `tollan config set` after another, each a process of its own
    other.start("sh", {"-c",
                       "i=0; while [ $i -lt $2 ]; do \"$0\" --home \"$1\" config set \"Set$i\" \"value $i\" || exit 1; "
                       "i=$((i+1)); done",
                       TOLLAN_EXE, home.path(), QString::number(kSets)});
    ASSERT_TRUE(other.waitForStarted());
    std::int32_t last = 1000;
    do {
        bool saved = false;
        const std::int32_t n = Trans_NextStan(&saved);
        ASSERT_TRUE(saved);
        ASSERT_EQ(n, last + 1);  // a number the other's save took back would come again
        last = n;
        // A purchase talks to the register and the card centre between two numbers; one that took
        // the lock back at once would keep `config set` waiting past its bound.
    } while (!other.waitForFinished(1));
    ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    EXPECT_EQ(Cfg_Lookup("NextNumber", ""), std::to_string(last));
    for (int i = 0; i < kSets; ++i)
        EXPECT_EQ(Cfg_Lookup("Set" + std::to_string(i), "lost"), "value " + std::to_string(i)) << i;
    std::printf("%d trace numbers beside %d saves of `config set`\n", last - 1000, kSets);
#endif
}

TEST(TraceNumbers, ANumberSetElsewhereWhileOursIsTakenIsCountedOn)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    test::UseTestHome(home.path());
    ASSERT_TRUE(Cfg_Put("NextNumber", "5"));
    // `config set NextNumber 100` by hand, saved while our count waits for the lock.
    QProcess other;
    test::HoldTheRegistryLock(other, home.path(),
                              "sleep 0.5; " + test::SaveRegistryCommand("[SOFTWARE\\Valdrin\\Tollan]\nNextNumber=100\n"));
    bool saved = false;
    EXPECT_EQ(Trans_NextStan(&saved), 101);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(other.waitForFinished(5000));
    EXPECT_EQ(Cfg_Lookup("NextNumber", ""), "101");
}
