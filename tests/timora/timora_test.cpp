// The control as a host sees it: ticks, alerts once a minute, the timer interval, the entries and
// their change notices, the next time of a category and the control's fixed size.

#include "tests/timora/suite.h"

#include <QTest>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tollan {
namespace {

QDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return {QDate(y, mo, d), QTime(h, mi, s)}; }

// A host window that embeds the control and keeps what it raised, in order.
struct Host {
    QWidget window;
    Timora* timora = new Timora(&window);
    QStringList events;
    QStringList changed;
    int timers = 0;
    int alerts = 0;

    Host()
    {
        QObject::connect(timora, &Timora::Timer, &window, [this] {
            ++timers;
            events << QStringLiteral("Timer");
        });
        QObject::connect(timora, &Timora::Alert, &window, [this](QString& category, QString& action) {
            ++alerts;
            events << category + QLatin1Char('/') + action;
        });
        QObject::connect(timora, &Timora::PropertyChanged, &window, [this](const QString& name) { changed << name; });
    }

    // Lets the control's own timer fire `ticks` more times.
    void RunTicks(int ticks)
    {
        const int until = timers + ticks;
        ASSERT_TRUE(QTest::qWaitFor([&] { return timers >= until; }, 5000)) << "the timer does not tick";
    }
};

// Local time with its offset from UTC, "2026-10-25T03:30:00+03:00", both ways.
std::string Iso(const QDateTime& t) { return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate).toStdString(); }
QDateTime LocalAt(const char* iso) { return QDateTime::fromString(QLatin1String(iso), Qt::ISODate).toLocalTime(); }

// Local time is that of `zone` for the life of the guard, whatever the machine's own zone.
struct LocalZone {
    explicit LocalZone(const char* zone) { qputenv("TZ", zone), tzset(); }
    ~LocalZone() { had ? qputenv("TZ", old) : qunsetenv("TZ"), tzset(); }
    bool had = qEnvironmentVariableIsSet("TZ");
    QByteArray old = qgetenv("TZ");
};

class TimoraTest : public ::testing::Test {
protected:
    TimoraTestClock clock{At(2026, 5, 5, 22, 30, 5)};
    TimoraClockScope scope{clock};
};

TEST_F(TimoraTest, EveryMatchingEntryAlertsOnceInItsMinuteInEntryOrderAfterTheTimerEvent)
{
    Host host;
    host.timora->Insert("* * * 22 30", "A", "first");
    host.timora->Insert("* * * 22 31", "B", "next");
    host.timora->Insert("* * * * *", "C", "every minute");
    host.timora->Insert("* * * 22 30 2", "D", "on Tuesdays");
    host.timora->Insert("* * * 22 30 tue", "E", "names never match here");
    host.timora->Interval(1);
    host.RunTicks(5);
    EXPECT_EQ(host.events.mid(0, 5), (QStringList{"Timer", "A/first", "C/every minute", "D/on Tuesdays", "Timer"}));
    EXPECT_EQ(host.alerts, 3);
    clock.setNow(At(2026, 5, 5, 22, 30, 59));
    host.RunTicks(5);
    EXPECT_EQ(host.alerts, 3);   // once in the minute however many ticks fall in it
    clock.setNow(At(2026, 5, 5, 22, 31, 0));
    host.RunTicks(3);
    EXPECT_EQ(host.alerts, 5);
    clock.setNow(At(2026, 5, 5, 22, 30, 30));   // a clock set back checks the minute again
    host.RunTicks(2);
    EXPECT_EQ(host.alerts, 8);
    clock.setNow(At(2026, 5, 6, 22, 30, 0));   // a Wednesday
    host.RunTicks(3);
    EXPECT_EQ(host.alerts, 10);
}

TEST_F(TimoraTest, AHandlerMayRebuildTheEntriesWhileAlertsAreRaised)
{
    Host host;
    for (int i = 1; i <= 4; ++i)
        host.timora->Insert("* * * 22 30", "A", QString::number(i));
    QObject::connect(host.timora, &Timora::Alert, &host.window, [&](QString& category, QString& action) {
        // The arguments are the handler's own: changing them leaves the entry alone.
        category = QStringLiteral("changed");
        if (action == QLatin1String("2")) {
            host.timora->Clear();
            host.timora->Insert("* * * 22 30", "B", "new");
        }
    });
    host.timora->Interval(1);
    host.RunTicks(1);
    // Entries 3 and 4 are gone; the new entry 1 was already passed in this minute.
    EXPECT_EQ(host.events.mid(0, 3), (QStringList{"Timer", "A/1", "A/2"}));
    EXPECT_EQ(host.alerts, 2);
    EXPECT_EQ(host.timora->Category(1), QStringLiteral("B"));
}

TEST_F(TimoraTest, IntervalIsLimitedZeroStopsTheTicksAndADisabledControlRaisesNothing)
{
    Host host;
    auto* timer = host.timora->findChild<QTimer*>(QStringLiteral("tmrTimora"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(host.timora->Interval(), 1000);
    EXPECT_TRUE(timer->isActive());

    struct Case { int set; int read; bool running; };
    const Case cases[] = {{250, 250, true}, {100000, 60000, true}, {60000, 60000, true}, {60001, 60000, true},
                          {0, 0, false},    {-5, 0, false},        {1, 1, true},         {INT_MIN, 0, false}};
    for (const Case& c : cases) {
        host.timora->Interval(c.set);
        EXPECT_EQ(host.timora->Interval(), c.read) << c.set;
        EXPECT_EQ(timer->isActive(), c.running) << c.set;
    }

    // A disabled control raises nothing and catches nothing up.
    host.timora->Insert("* * * 22 30", "A", "a");
    host.timora->Enabled(false);
    host.timora->Interval(1);
    QTest::qWait(30);
    EXPECT_EQ(host.timers, 0);
    EXPECT_EQ(host.alerts, 0);
    clock.setNow(At(2026, 5, 5, 22, 31));
    host.timora->Enabled(true);
    host.RunTicks(2);
    EXPECT_EQ(host.alerts, 0);
}

TEST_F(TimoraTest, EntriesAreAddressedFromOneToCountAndEveryChangeTellsTheHostWhichProperty)
{
    Host host;
    Timora& t = *host.timora;
    t.Enabled(false);
    t.Interval(500);
    t.Insert("* * * 22 30", "SendTransTime", "a");
    t.Insert("* * * 8 0 1", "Other", "b");
    t.Insert("m", "c", "a");
    t.Mask(3, "x");
    t.Category(2, "y");
    t.Action(1, "z");
    EXPECT_EQ(t.Count(), 3);
    EXPECT_EQ(QStringList({t.Mask(2), t.Category(2), t.Action(1), t.Mask(3), t.Category(1)}),
              (QStringList{"* * * 8 0 1", "y", "z", "x", "SendTransTime"}));
    for (int outside : {0, -1, 4, INT_MAX, INT_MIN}) {
        EXPECT_EQ(t.Mask(outside) + t.Category(outside) + t.Action(outside), QString()) << outside;
        t.Mask(outside, "x");   // changes nothing and says nothing
        t.Category(outside, "x");
        t.Action(outside, "x");
    }
    EXPECT_EQ(t.Count(), 3);
    t.Clear();
    t.Clear();
    EXPECT_EQ(t.Count(), 0);
    EXPECT_EQ(t.Mask(1), QString());
    EXPECT_EQ(host.changed, (QStringList{"Enabled", "Interval", "Mask1", "Category1", "Action1", "Mask2", "Category2",
                                         "Action2", "Mask3", "Category3", "Action3", "Mask3", "Category2", "Action1",
                                         "Count"}));
}

TEST_F(TimoraTest, NextTimeOfACategoryIsFromTheControlsClockAndAnOverflowIsAnErrorOfTheCall)
{
    Host host;
    Timora& t = *host.timora;
    clock.setNow(At(2026, 5, 5, 13, 5, 30));
    TimoraError error;
    EXPECT_EQ(t.NextTime("SendTransTime", &error), At(9999, 1, 1));
    EXPECT_FALSE(error);
    t.Insert("* * * 12 *", "SendTransTime", "");
    EXPECT_EQ(t.NextTime("SendTransTime"), At(2026, 5, 6, 12, 6));
    clock.setNow(At(2026, 5, 6, 12, 6, 0));   // searched from one second after now
    EXPECT_EQ(t.NextTime("SendTransTime"), At(2026, 5, 6, 12, 7));
    // A mask that never matches is no error: it has no next time, like a category without entries.
    t.Insert("* 2 30 0 0", "Never", "");
    EXPECT_EQ(t.NextTime("Never", &error), At(9999, 1, 1));
    EXPECT_FALSE(error);
    // An overflow in the search is an error of that call only; without a place for it, no date.
    t.Insert("* * * * *", "Bad", "");
    t.Insert("* * * * * 10", "Bad", "");
    EXPECT_FALSE(t.NextTime("Bad", &error).isValid());
    EXPECT_EQ(error.code, TimoraError::Overflow);
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_FALSE(t.NextTime("Bad").isValid());
    EXPECT_EQ(t.NextTime("Good", &error), At(9999, 1, 1));
    EXPECT_FALSE(error);
}

// In Tallinn 03:00 becomes 04:00 on 28 March 2027, and 04:00 becomes 03:00 again on 25 October 2026.
// The control's own timer ticks while the clock moves on a minute at a time across the change.
TEST_F(TimoraTest, EachLocalMinuteFallsDueOnceAcrossSummerTimeChanges)
{
    const LocalZone tallinn("Europe/Tallinn");
    struct Case { QStringList masks; const char* from; int minutes; std::vector<std::string> alerts; };
    const Case cases[] = {
        // The skipped hour falls due at 04:00, an entry once however many of its minutes it matches.
        {{"* * * 2 59", "* * * 3 30", "* * * 3 *", "* * * 4 0"}, "2027-03-28T02:58:30+02:00", 4,
         {"* * * 2 59 at 2027-03-28T02:59:30+02:00", "* * * 3 30 at 2027-03-28T04:00:30+03:00",
          "* * * 3 * at 2027-03-28T04:00:30+03:00", "* * * 4 0 at 2027-03-28T04:00:30+03:00"}},
        // The repeated hour falls due the first time only.
        {{"* * * 3 30", "* * * 3 59", "* * * 4 0"}, "2026-10-25T03:29:30+03:00", 92,
         {"* * * 3 30 at 2026-10-25T03:30:30+03:00", "* * * 3 59 at 2026-10-25T03:59:30+03:00",
          "* * * 4 0 at 2026-10-25T04:00:30+02:00"}},
    };
    for (const Case& c : cases) {
        clock.setNow(LocalAt(c.from));
        Host host;
        std::vector<std::string> alerts;
        QObject::connect(host.timora, &Timora::Alert, &host.window, [&alerts](QString&, QString& action) {
            alerts.push_back(action.toStdString() + " at " + Iso(Timora_Clock().now()));
        });
        for (const QString& mask : c.masks)
            host.timora->Insert(mask, QStringLiteral("SendTransTime"), mask);
        host.timora->Interval(1);
        for (int minute = 0; minute <= c.minutes; ++minute) {
            host.RunTicks(1);
            clock.advanceSeconds(60);
        }
        EXPECT_EQ(alerts, c.alerts) << "from " << c.from;
    }
}

TEST_F(TimoraTest, NextTimeIsWhenTheAlertComesAcrossSummerTimeChanges)
{
    const LocalZone tallinn("Europe/Tallinn");
    struct Case { const char* now; const char* mask; const char* next; };
    const Case cases[] = {
        // The minutes of the skipped hour fall due at 04:00.
        {"2027-03-28T02:00:00+02:00", "* * * 3 30", "2027-03-28T04:00:00+03:00"},
        {"2027-03-28T02:00:00+02:00", "* * * 3 *", "2027-03-28T04:00:00+03:00"},
        // In the first pass of the repeated hour, 03:30 of that pass.
        {"2026-10-25T03:10:00+03:00", "* * * 3 30", "2026-10-25T03:30:00+03:00"},
        // In the second pass its minutes have fallen due already.
        {"2026-10-25T03:10:00+02:00", "* * * 3 30", "2026-10-26T03:30:00+02:00"},
        {"2026-10-25T03:10:00+02:00", "* * * * *", "2026-10-25T04:00:00+02:00"},
    };
    for (const Case& c : cases) {
        clock.setNow(LocalAt(c.now));
        Host host;
        host.timora->Insert(c.mask, "SendTransTime", "");
        EXPECT_EQ(Iso(host.timora->NextTime("SendTransTime")), c.next) << c.mask << " at " << c.now;
    }
}

} // namespace
} // namespace tollan
