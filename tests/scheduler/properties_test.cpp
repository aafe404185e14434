// Timora's stored properties: the names, defaults and order of reading and writing, and what an
// unusable store gives.

#include "scheduler/timora.h"

#include <gtest/gtest.h>

namespace tollan {
namespace {

// A store that answers from a map and keeps every call in order.
class RecordingStore final : public TimoraPropertyStore {
public:
    QVariantMap values;
    QStringList calls;

    QVariant ReadProperty(const QString& name, const QVariant& defaultValue) override
    {
        calls << QStringLiteral("read %1 (%2)").arg(name, defaultValue.toString());
        return values.value(name, defaultValue);
    }
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) override
    {
        calls << QStringLiteral("write %1=%2 (%3)").arg(name, value.toString(), defaultValue.toString());
        values.insert(name, value);
    }
};

QTimer* TimerOf(Timora& t) { return t.findChild<QTimer*>(QStringLiteral("tmrTimora")); }

TEST(TimoraProperties, WritesInTheirOrderWithEveryNameAndDefault)
{
    Timora fresh;   // ticks once a second until told otherwise
    EXPECT_TRUE(TimerOf(fresh)->isActive());
    RecordingStore store;
    fresh.WriteProperties(store);
    EXPECT_EQ(store.calls, (QStringList{"write Enabled=true (true)", "write Interval=1000 (1000)", "write Count=0 (0)"}));
    Timora t;
    t.Enabled(false);
    t.Interval(250);
    t.Insert("* * * 22 30", "SendTransTime", "saada");
    t.Insert("* * * 8 0 1", "Other", "");
    store.calls.clear();
    t.WriteProperties(store);
    EXPECT_EQ(store.calls, (QStringList{"write Enabled=false (true)", "write Interval=250 (1000)", "write Count=2 (0)",
                                        "write Mask1=* * * 22 30 ()", "write Category1=SendTransTime ()",
                                        "write Action1=saada ()", "write Mask2=* * * 8 0 1 ()",
                                        "write Category2=Other ()", "write Action2= ()"}));
}

TEST(TimoraProperties, ReadsInTheirOrderAndRestoresTheEntries)
{
    RecordingStore store;
    store.values = {{"Enabled", false}, {"Interval", 250}, {"Count", 2}, {"Mask1", "* * * 22 30"},
                    {"Category1", "SendTransTime"}, {"Action1", "a"}, {"Mask2", "m2"},
                    {"Category2", "c2"}, {"Action2", "a2"}, {"Mask3", "left over"}};
    Timora t;
    QStringList changed;
    QObject::connect(&t, &Timora::PropertyChanged, [&](const QString& n) { changed << n; });
    EXPECT_TRUE(t.ReadProperties(store));
    EXPECT_EQ(store.calls, (QStringList{"read Interval (1000)", "read Enabled (true)", "read Count (0)", "read Mask1 ()",
                                        "read Category1 ()", "read Action1 ()", "read Mask2 ()", "read Category2 ()",
                                        "read Action2 ()"}));
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(t.Interval(), 250);
    ASSERT_EQ(t.Count(), 2);
    EXPECT_EQ(t.Mask(1), QStringLiteral("* * * 22 30"));
    EXPECT_EQ(t.Category(1), QStringLiteral("SendTransTime"));
    EXPECT_EQ(t.Action(2), QStringLiteral("a2"));
    EXPECT_EQ(t.Mask(3), QString());
    // Loading a window is not a change of it.
    EXPECT_TRUE(changed.isEmpty());
}

TEST(TimoraProperties, TheStoredIntervalIsNotLimitedButANegativeOneStops)
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
}

TEST(TimoraProperties, AnUnusableCountGivesNoEntriesAndSaysSo)
{
    for (const QVariant& count : {QVariant(-1), QVariant(Timora::kMaxEntries + 1), QVariant(INT_MAX),
                                  QVariant(QStringLiteral("many")), QVariant(qlonglong(1) << 33)}) {
        TimoraMapStore store;
        store.values = {{"Count", count}, {"Mask1", "* * * 22 30"}};
        Timora t;
        t.Insert("old", "old", "old");
        EXPECT_FALSE(t.ReadProperties(store)) << count.toString().toStdString();
        EXPECT_EQ(t.Count(), 0) << count.toString().toStdString();
    }
    TimoraMapStore store;
    store.values = {{"Count", "3"}, {"Category2", "b"}};   // a count without its masks: empty masks
    Timora t;
    EXPECT_TRUE(t.ReadProperties(store));
    EXPECT_EQ(t.Count(), 3);
    EXPECT_EQ(t.Mask(2) + t.Action(3), QString());
    EXPECT_EQ(t.Category(2), QStringLiteral("b"));
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
