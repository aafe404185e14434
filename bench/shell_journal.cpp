// The journal ("Päevik") over a day of 100 000 rows: from opening the window to its list showing
// the first rows, the day's totals per register and the chart of turnover per hour (goal < 200 ms);
// a search by amount; and scrolling to the end, as the longest single page of rows fetched while
// scrolling (what the operator would feel as a pause) and the whole way.
//
// Prints one JSON object. Options: --quick (one run instead of five), --rows N.
#include "bench/process_bench.h"
#include "bench/unsent_rows.h"
#include "shell/journal.h"
#include "store/db.h"
#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <QApplication>
#include <QScrollBar>
#include <QSqlQueryModel>
#include <QTableView>

#include <cstring>

using namespace tollan;
using namespace tollan::bench;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = 100000, runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick"))
            runs = 1;
        else if (!std::strcmp(argv[i], "--rows") && i + 1 < argc)
            rows = std::max(1, std::atoi(argv[++i]));
    }
    QTemporaryDir home;
    Home_Set(home.path());
    Ui_SetHeadless(true);
    Cfg_SetRoot(kCfgRoot);
    if (!Db_Open() || !StoreUnsentRows(rows)) {
        std::fprintf(stderr, "cannot prepare tollan.mdb in %s\n", qPrintable(home.path()));
        return 1;
    }
    const QDate day(2026, 12, 6);   // the day of the stored rows

    std::vector<double> open, search, page, whole;
    std::int64_t total = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        auto journal = std::make_unique<fJournal>();
        journal->showDay(day);
        journal->show();
        QCoreApplication::processEvents();
        open.push_back(double(t.nsecsElapsed()) / 1e6);
        total = Totals_Sum(journal->totals()).net();

        // Scrolled to the end a page at a time, as the view fetches while the operator scrolls.
        auto* view = journal->findChild<QTableView*>("gList");
        auto* model = qobject_cast<QSqlQueryModel*>(view->model());
        double longest = 0;
        t.start();
        while (model->canFetchMore()) {
            QElapsedTimer one;
            one.start();
            model->fetchMore();
            view->scrollToBottom();
            QCoreApplication::processEvents();
            longest = std::max(longest, double(one.nsecsElapsed()) / 1e6);
        }
        whole.push_back(double(t.nsecsElapsed()) / 1e6);
        page.push_back(longest);

        t.start();
        journal->search(QStringLiteral("12,50"));
        QCoreApplication::processEvents();
        search.push_back(double(t.nsecsElapsed()) / 1e6);
        if (model->rowCount() < 0)
            return 1;
    }

    const Stats o = Summarise(open), s = Summarise(search), p = Summarise(page), w = Summarise(whole);
    Json j;
    j.Text("benchmark", "the journal window opened on a day of rows: list, totals per register, chart per hour");
    j.Number("rows", rows);
    j.Number("runs", runs);
    j.Number("day_net_hundredths", double(total));
    j.Number("open_and_total_median_ms", o.median);
    j.Number("open_and_total_max_ms", o.max);
    j.Number("goal_ms_below", 200);
    j.Bool("goal_met", o.max < 200);
    j.Number("search_amount_median_ms", s.median);
    j.Number("scroll_longest_page_median_ms", p.median);
    j.Number("scroll_to_end_median_ms", w.median);
    std::printf("%s\n", j.Str().c_str());
    return 0;
}
