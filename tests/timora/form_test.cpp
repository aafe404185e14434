// A window built from a Designer form: uic sets the stored properties on the widget, and the
// control reads them from there and writes them back there.

#include "tests/timora/suite.h"
#include "ui_timoraform.h"

namespace tollan {
namespace {

TEST(TimoraForm, TheEntriesOfTheFormComeBackWhenTheWindowIsBuilt)
{
    QWidget window;
    Ui::TimoraForm ui;
    ui.setupUi(&window);
    Timora& t = *ui.Timora1;
    TimoraObjectStore store(&t);
    ASSERT_TRUE(t.ReadProperties(store));
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(t.Interval(), 250);
    ASSERT_EQ(t.Count(), 3);
    EXPECT_EQ(t.Mask(1), QStringLiteral("* * * 22 30"));
    EXPECT_EQ(t.Action(1), QStringLiteral("saada"));
    EXPECT_EQ(t.Mask(2), QString());
    EXPECT_EQ(t.Category(2), QStringLiteral("no mask"));
    EXPECT_EQ(t.Mask(3), QStringLiteral("* * * 8 0 mon"));
    // The control keeps its own size of 420 twips whatever the form says, at the form's place.
    EXPECT_EQ(t.geometry(), QRect(20, 20, qRound(420.0 * t.logicalDpiX() / 1440), qRound(420.0 * t.logicalDpiY() / 1440)));

    t.Clear();
    t.Insert("* * * 6 0", "SendTransTime", "");
    t.WriteProperties(store);
    EXPECT_EQ(t.property("Count"), QVariant(1));
    EXPECT_EQ(t.property("Mask1"), QVariant(QStringLiteral("* * * 6 0")));
    EXPECT_FALSE(t.property("Action1").isValid());
    Timora again;
    ASSERT_TRUE(again.ReadProperties(store));
    EXPECT_EQ(again.Count(), 1);
    EXPECT_EQ(again.Category(1), QStringLiteral("SendTransTime"));
}

} // namespace
} // namespace tollan
