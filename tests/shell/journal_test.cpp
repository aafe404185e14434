// The journal ("Päevik") in the real main window: opened by its key, its search, its totals and a
// receipt's copy, over rows stored as the flows store them.
#include "shell/journal.h"
#include "tests/common/shots.h"
#include "tests/shell/suite.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDate>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTabWidget>
#include <QTableWidget>

namespace {

class Journal : public WindowTest {
protected:
    // A row as a flow stores it, today unless told.
    void Store(const char* pos, const char* trans, const char* stan, std::int64_t amount, int type = 0,
               const char* orig = "", const char* pan = "400000******7899")
    {
        TransRecord t;
        t.Type = std::int16_t(type);
        t.PAN = pan;
        t.Amount = amount;
        t.Date = QDate::currentDate().toString("yyyyMMdd").toInt();
        t.Time = 90000 + std::atoi(stan) * 10000 + 1530;   // STAN 2 at 11:15, 3 at 12:15, ...
        t.AuthCode = "A1B2C3";
        t.STAN = stan;
        t.Toojaam = pos;
        t.Trans = trans;
        t.OrigSTAN = orig;
        ASSERT_TRUE(Db_StoreTrans(t));
    }
    fJournal* Open()
    {
        fMain& w = Load();
        w.show();
        QApplication::setActiveWindow(&w);
        QTest::keyClick(&w, Qt::Key_J, Qt::ControlModifier);
        fJournal* j = window->findChild<fJournal*>();
        return j && j->isVisible() ? j : nullptr;
    }
    static QStringList Column(fJournal& j, int column)
    {
        auto* model = j.findChild<QTableView*>("gList")->model();
        QStringList values;
        for (int r = 0; r < model->rowCount(); ++r)
            values << model->index(r, column).data().toString();
        return values;
    }
    static QStringList TotalsRow(fJournal& j, int row)
    {
        auto* table = j.findChild<QTableWidget*>("gTotals");
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(row, c)->text();
        return cells;
    }
};

TEST_F(Journal, OpenedByItsKeyItSearchesTotalsAndPrintsACopy)
{
    ASSERT_TRUE(Db_Open());
    Store("POS00001", "00000001", "2", 125000);
    Store("POS00001", "00000002", "3", 30000, 0, "", "550000******1234");
    Store("POS00002", "00000001", "4", 12345000);
    Store("POS00001", "00000003", "5", 125000, 1, "2");

    fJournal* opened = Open();
    ASSERT_TRUE(opened);
    fJournal& j = *opened;
    // The day's rows in time order, the purchase cancelled named by its cancellation.
    EXPECT_EQ(Column(j, 8), (QStringList{"2", "3", "4", "5"}));
    EXPECT_EQ(Column(j, 3), (QStringList{"12,50", "3,00", "1234,50", "12,50"}));
    EXPECT_EQ(Column(j, 6), (QStringList{"5", "", "", ""}));
    EXPECT_EQ(TotalsRow(j, 0), (QStringList{"POS00001", "2", "15,50", "1", "12,50", "3,00"}));
    EXPECT_EQ(TotalsRow(j, 2), (QStringList{"Kokku", "3", "1 250,00", "1", "12,50", "1 237,50"}));
    // The chart: the shop's hours 8 to 20, each with its net turnover.
    auto* bars = qobject_cast<QBarSeries*>(j.findChild<QChartView*>("gChart")->chart()->series().value(0));
    ASSERT_TRUE(bars);
    QList<double> hours;
    for (int i = 0; i < bars->barSets()[0]->count(); ++i)
        hours << bars->barSets()[0]->at(i);
    EXPECT_EQ(hours, (QList<double>{0, 0, 0, 12.5, 3, 1234.5, -12.5, 0, 0, 0, 0, 0, 0}));
    Shot(&j, "journal");

    // Typed into the search: a STAN, a register's number, a card's last four digits, an amount.
    const struct {
        const char* typed;
        QStringList stans;
    } searches[] = {{"4", {"4"}}, {"002", {"4"}}, {"1234", {"3"}}, {"12,50", {"2", "5"}}, {"3", {"3"}}, {"99", {}}};
    auto* find = j.findChild<QLineEdit*>("tFind");
    for (const auto& s : searches) {
        find->clear();
        QTest::keyClicks(find, s.typed);
        EXPECT_EQ(Column(j, 8), s.stans) << s.typed;
    }

    // A copy of the selected receipt goes to the operator's printer (here a PDF in prints/).
    find->clear();
    auto* list = j.findChild<QTableView*>("gList");
    list->selectRow(2);
    QTest::mouseClick(j.findChild<QPushButton*>("cReprint"), Qt::LeftButton);
    Shot(&j, "journal-reprint");
    EXPECT_EQ(QDir(home.filePath("prints")).entryList({"*.pdf"}, QDir::Files).size(), 1);
    QSqlQuery log(Db_Database());
    ASSERT_TRUE(log.exec("SELECT Message FROM Log WHERE Message LIKE 'kviitungi koopia%'") && log.next());
    EXPECT_EQ(log.value(0).toString(), "kviitungi koopia: STAN 4");
    TransRecord t;
    t.STAN = "4";
    t.Amount = 12345000;
    t.PAN = "400000******7899";
    const std::string copy = Journal_ReprintText(t);
    EXPECT_EQ(copy.rfind("KOOPIA\r\n", 0), 0u) << copy;
    EXPECT_NE(copy.find("1234"), std::string::npos) << copy;

    // The event log's tab shows the copy among the day's events.
    j.findChild<QTabWidget*>("tabs")->setCurrentIndex(1);
    QTest::keyClicks(j.findChild<QLineEdit*>("tLogFind"), "koopia");
    auto* events = j.findChild<QTableView*>("gLog")->model();
    ASSERT_EQ(events->rowCount(), 1);
    EXPECT_EQ(events->index(0, 2).data().toString(), "kviitungi koopia: STAN 4");
    Shot(&j, "journal-log");

    // Another day shows its own rows: none.
    j.showDay(QDate::currentDate().addDays(-1));
    EXPECT_EQ(Column(j, 8), QStringList{});
    EXPECT_EQ(TotalsRow(j, 0), (QStringList{"Kokku", "0", "0,00", "0", "0,00", "0,00"}));
}

} // namespace
