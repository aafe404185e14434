// pagTimora: the working copy behind the grid, and Apply writing it back. The grid reads the rows
// from the first on; it is driven here as the designer uses it.

#include "timora/pagtimora.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QTableView>
#include <QTest>

namespace tollan {
namespace {

struct Row { QString bookmark, mask, category, action; };
bool operator==(const Row& a, const Row& b)
{
    return a.bookmark == b.bookmark && a.mask == b.mask && a.category == b.category && a.action == b.action;
}
void PrintTo(const Row& r, std::ostream* os) { *os << r.bookmark.toStdString() << ":" << r.mask.toStdString(); }

class PageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        control.Insert("* * * 22 30", "SendTransTime", "first");
        control.Insert("* * * 8 0 1", "Other", "second");
        control.Insert("* * * 12 *", "SendTransTime", "third");
        page.SetSelectedControls({&control, &other});
        page.PropertyPage_Initialize();
        page.PropertyPage_SelectionChanged();
    }

    std::vector<Row> Read(int rows, const QString& start = {}, bool backwards = false)
    {
        UnboundRowBuffer buf(rows);
        page.DBGrid1_UnboundReadData(buf, start, backwards);
        std::vector<Row> out;
        for (int r = 0; r < buf.RowCount; ++r)
            out.push_back({buf.Bookmark(r), buf.Value(0, r).toString(), buf.Value(1, r).toString(),
                           buf.Value(2, r).toString()});
        return out;
    }

    Timora control;
    Timora other;
    pagTimora page;
};

TEST_F(PageTest, TheWorkingCopyComesFromTheFirstSelectedControlAndIsDroppedWithoutApply)
{
    other.Insert("not", "this", "one");
    page.PropertyPage_SelectionChanged();
    EXPECT_EQ(page.WorkingRows(), 3);
    EXPECT_EQ(Read(10), (std::vector<Row>{{"1", "* * * 22 30", "SendTransTime", "first"},
                                          {"2", "* * * 8 0 1", "Other", "second"},
                                          {"3", "* * * 12 *", "SendTransTime", "third"}}));
    UnboundRowBuffer buf(1);
    buf.SetValue(pagTimora::ColMask, 0, QStringLiteral("x"));
    page.DBGrid1_UnboundWriteData(buf, "4");   // a bookmark of no row changes nothing
    EXPECT_FALSE(page.Changed());
    // Closing without applying discards the edits.
    page.DBGrid1_UnboundDeleteRow("1");
    page.DBGrid1_UnboundAddData(UnboundRowBuffer(1), *std::make_unique<QString>());
    page.PropertyPage_Initialize();
    page.PropertyPage_SelectionChanged();
    EXPECT_EQ(Read(10).size(), 3u);
    EXPECT_EQ(control.Count(), 3);
    page.PropertyPage_Initialize();
    EXPECT_EQ(page.WorkingRows(), 0);
    EXPECT_TRUE(Read(5).empty());
}

TEST_F(PageTest, ApplyingAPageWithEveryRowDeletedEmptiesTheControlAndTellsTheHost)
{
    QStringList changed;
    QObject::connect(&control, &Timora::PropertyChanged, [&](const QString& n) { changed << n; });
    for (const char* b : {"1", "2", "3"})
        page.DBGrid1_UnboundDeleteRow(b);
    page.PropertyPage_ApplyChanges();
    EXPECT_EQ(control.Count(), 0);
    EXPECT_EQ(changed, QStringList{"Count"});
}

TEST_F(PageTest, TheGridEditsThroughTheUnboundRowSource)
{
    auto* grid = page.findChild<QTableView*>(QStringLiteral("DBGrid1"));
    ASSERT_NE(grid, nullptr);
    QAbstractItemModel* model = grid->model();
    ASSERT_EQ(model->rowCount(), 4); // three entries and the line for a new one
    ASSERT_EQ(model->columnCount(), 3);
    // What the grid's headers show: the columns, a number for each row and "*" on the line for a new one.
    QStringList headers;
    for (int c = 0; c < 3; ++c) headers << model->headerData(c, Qt::Horizontal).toString();
    for (int r = 0; r < 4; ++r) headers << model->headerData(r, Qt::Vertical).toString();
    EXPECT_EQ(headers, (QStringList{"Mask", "Category", "Action", "1", "2", "3", "*"}));
    EXPECT_EQ(model->data(model->index(2, 2)).toString(), QStringLiteral("third"));

    // The Delete key deletes the current row; the grid no longer shows it.
    grid->setCurrentIndex(model->index(1, 0));
    auto* del = grid->findChild<QAction*>(QStringLiteral("actDeleteRow"));
    ASSERT_NE(del, nullptr);
    del->trigger();
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->data(model->index(1, 2)).toString(), QStringLiteral("third"));

    // Typing into the last line adds a row, after the deleted one.
    EXPECT_TRUE(model->setData(model->index(2, 0), QStringLiteral("* * * 6 0")));
    EXPECT_EQ(page.WorkingRows(), 4);
    ASSERT_EQ(model->rowCount(), 4);
    EXPECT_EQ(model->data(model->index(2, 0)).toString(), QStringLiteral("* * * 6 0"));

    // An edited cell changes that column only, and reaches the control with Apply.
    EXPECT_TRUE(model->setData(model->index(0, 1), QStringLiteral("Renamed")));
    EXPECT_TRUE(page.Changed());
    EXPECT_EQ(control.Category(1), QStringLiteral("SendTransTime"));
    page.PropertyPage_ApplyChanges();
    ASSERT_EQ(control.Count(), 3);
    EXPECT_EQ(QStringList({control.Mask(1), control.Category(1), control.Action(1)}), (QStringList{"* * * 22 30", "Renamed", "first"}));
    EXPECT_EQ(control.Action(2), QStringLiteral("third"));
    EXPECT_EQ(control.Mask(3), QStringLiteral("* * * 6 0"));
    EXPECT_EQ(other.Count(), 0);   // only the first selected control takes the page
}

} // namespace
} // namespace tollan
