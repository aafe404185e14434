// One transaction file from 100 000 unsent rows of one workstation, built inside a database
// transaction and rolled back, against a bare Qt SQL loop that reads and marks the same rows the
// same way. Both run on the same tollan.mdb in the same process.

#include "bench/unsent_rows.h"
#include "dialogues/transfile_build.h"
#include "protocol/transfile.h"
#include "store/db.h"
#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdio>

using namespace tollan;

namespace {

constexpr int kRows = 100000;

void BM_BuildTransFile(benchmark::State& state)
{
    std::size_t lines = 0;
    for (auto _ : state) {
        TransSet set;
        set.open("iSentToojaamPAN");
        Db_BeginTrans();
        std::vector<std::string> file;
        std::string report;
        if (!KK_BuildTransFile(set, file, report)) state.SkipWithError("no file built");
        lines = file.size();
        benchmark::DoNotOptimize(report.data());
        Db_Rollback();
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["rows_per_s"] = benchmark::Counter(kRows, benchmark::Counter::kIsIterationInvariantRate);
}

// What any reader of the same rows has to do: select them in index order, read every field, mark each.
void BM_BareSqliteLoop(benchmark::State& state)
{
    std::size_t rows = 0;
    for (auto _ : state) {
        QSqlDatabase db = Db_Database();
        QSqlQuery begin(db);
        begin.exec("BEGIN");
        QSqlQuery select(db);
        select.setForwardOnly(true);
        select.exec("SELECT rowid, Type, PAN, WayOfUse, Amount, Date, Time, AuthCode, POSCode, ExpDate, STAN,"
                    " Track2, sent, Toojaam, Trans FROM Trans WHERE sent = 0 AND Toojaam = 'POS001'"
                    " ORDER BY sent, Toojaam, PAN");
        QSqlQuery mark(db);
        mark.prepare("UPDATE Trans SET sent = -1 WHERE rowid = ?");
        rows = 0;
        while (select.next()) {
            TransRecord t;
            t.Type = static_cast<std::int16_t>(select.value(1).toInt());
            t.PAN = select.value(2).toString().toStdString();
            t.WayOfUse = static_cast<std::int16_t>(select.value(3).toInt());
            t.Amount = static_cast<std::int64_t>(select.value(4).toDouble() * 10000);
            t.Date = select.value(5).toInt();
            t.Time = select.value(6).toInt();
            t.AuthCode = select.value(7).toString().toStdString();
            t.POSCode = static_cast<std::int16_t>(select.value(8).toInt());
            t.ExpDate = static_cast<std::int16_t>(select.value(9).toInt());
            t.STAN = select.value(10).toString().toStdString();
            t.Track2 = select.value(11).toString().toStdString();
            t.Toojaam = select.value(13).toString().toStdString();
            t.Trans = select.value(14).toString().toStdString();
            benchmark::DoNotOptimize(t);
            mark.bindValue(0, select.value(0));
            mark.exec();
            ++rows;
        }
        QSqlQuery(db).exec("ROLLBACK");
    }
    if (rows != static_cast<std::size_t>(kRows)) state.SkipWithError("not every row was read");
    state.counters["rows_per_s"] = benchmark::Counter(kRows, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_BuildTransFile)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_BareSqliteLoop)->Unit(benchmark::kMillisecond)->MinTime(3);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    Home_Set(home.path());
    Ui_SetHeadless(true);
    Cfg_SetRoot(kCfgRoot);
    if (!Db_Open() || !tollan::bench::StoreUnsentRows(kRows)) {
        std::fprintf(stderr, "cannot prepare tollan.mdb in %s\n", qPrintable(home.path()));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
