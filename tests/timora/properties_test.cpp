// Timora's stored properties: what is written is read back, and what an unusable store gives.

#include "timora/timora.h"

#include <gtest/gtest.h>

namespace tollan {
namespace {

QTimer* TimerOf(Timora& t) { return t.findChild<QTimer*>(QStringLiteral("tmrTimora")); }

TEST(TimoraProperties, WhatIsWrittenIsReadBackWithoutChangeNotices)
{
    Timora t;
    t.Enabled(false);
    t.Interval(250);
    t.Insert("* * * 22 30", "SendTransTime", "saada");
    t.Insert("* * * 8 0 1", "Other", "");
    TimoraMapStore store;
    t.WriteProperties(store);
    EXPECT_EQ(store.values.keys(), (QStringList{"Action1", "Action2", "Category1", "Category2", "Count", "Enabled",
                                                "Interval", "Mask1", "Mask2"}));
    store.values.insert("Mask3", "left over");   // beyond the count: never read
    Timora back;
    QStringList changed;
    QObject::connect(&back, &Timora::PropertyChanged, [&](const QString& n) { changed << n; });
    EXPECT_TRUE(back.ReadProperties(store));
    EXPECT_TRUE(changed.isEmpty());   // loading a window is not a change of it
    EXPECT_EQ(QVariantList({back.Enabled(), back.Interval(), back.Count(), back.Mask(1), back.Category(2), back.Action(1), back.Mask(3)}),
              QVariantList({false, 250, 2, "* * * 22 30", "Other", "saada", ""}));
}

TEST(TimoraProperties, TheStoredIntervalIsNotLimitedButANegativeOneStopsAndAnUnusableCountGivesNoEntries)
{
    struct Case { QVariant stored; int interval; bool running; };
    const Case cases[] = {{100000, 100000, true}, {1, 1, true}, {0, 0, false}, {-5, 0, false},
                          {QStringLiteral("750"), 750, true}, {QStringLiteral("soon"), 1000, true},
                          {QVariant(), 1000, true}, {qlonglong(1) << 40, 1000, true}};
    for (const Case& c : cases) {
        TimoraMapStore store;
        if (c.stored.isValid())
            store.values.insert("Interval", c.stored);
        Timora t;
        t.ReadProperties(store);
        EXPECT_EQ(t.Interval(), c.interval) << c.stored.toString().toStdString();
        EXPECT_EQ(TimerOf(t)->isActive(), c.running) << c.stored.toString().toStdString();
    }
    // An unusable count gives no entries, and says so.
    for (const QVariant& count : {QVariant(-1), QVariant(Timora::kMaxEntries + 1), QVariant(INT_MAX),
                                  QVariant(QStringLiteral("many")), QVariant(qlonglong(1) << 33)}) {
        TimoraMapStore store;
        store.values = {{"Count", count}, {"Mask1", "* * * 22 30"}};
        Timora t;
        t.Insert("old", "old", "old");
        EXPECT_FALSE(t.ReadProperties(store)) << count.toString().toStdString();
        EXPECT_EQ(t.Count(), 0) << count.toString().toStdString();
    }
}

TEST(TimoraProperties, SavingIntoItselfChangesNothingAndReportsNoChange)
{
    Timora t;
    t.setProperty("Interval", 1); // as uic would, before the stored properties are read
    t.setProperty("Count", 1);
    TimoraMapStore stored;
    stored.values = {{"Interval", 100000}, {"Enabled", false}, {"Count", 1}, {"Mask1", "* * * 22 30"}};
    ASSERT_TRUE(t.ReadProperties(stored));
    QStringList changed;
    QObject::connect(&t, &Timora::PropertyChanged, [&](const QString& n) { changed << n; });
    TimoraObjectStore own(&t);
    t.WriteProperties(own);
    EXPECT_TRUE(changed.isEmpty()) << changed.join(',').toStdString();
    EXPECT_EQ(t.Interval(), 100000);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(t.property("Mask1"), QVariant(QStringLiteral("* * * 22 30")));
}

} // namespace
} // namespace tollan
