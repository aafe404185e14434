// What keeping card numbers sealed costs: sealing one number (each purchase does it once, when its
// row is stored) and opening it again (each line of a transaction file), and `tollan keys rotate`
// over 100 000 unsent rows, in process (Db_Reseal) and as the command an administrator runs.

#include "bench/unsent_rows.h"
#include "store/db.h"
#include "support/carddata.h"
#include "support/home.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

using namespace tollan;

namespace {

constexpr int kRows = 100000;

void BM_SealCardNumber(benchmark::State& state)
{
    CardKey_Use({CardKey_New({})});
    for (auto _ : state)
        benchmark::DoNotOptimize(Card_Seal("4000001234567899", "400000******7899"));
}
BENCHMARK(BM_SealCardNumber)->Unit(benchmark::kMicrosecond);

void BM_OpenCardNumber(benchmark::State& state)
{
    CardKey_Use({CardKey_New({})});
    const SealedPan sealed = *Card_Seal("4000001234567899", "400000******7899");
    for (auto _ : state)
        benchmark::DoNotOptimize(Card_Open(sealed.blob, sealed.keyId, "400000******7899"));
}
BENCHMARK(BM_OpenCardNumber)->Unit(benchmark::kMicrosecond);

// Every sealed number of 100 000 unsent rows opened with the old key and sealed under a new one,
// in one transaction.
void BM_ResealUnsentRows(benchmark::State& state)
{
    QTemporaryDir home;
    Home_Set(home.path());
    CardKey_Use({CardKey_New({})});
    if (!Db_Open() || !bench::StoreUnsentRows(kRows)) {
        state.SkipWithError("no rows");
        return;
    }
    std::int64_t reported = 0;
    for (auto _ : state) {
        std::vector<CardKey> keys = CardKey_Keys();
        keys.push_back(CardKey_New(keys));
        CardKey_Use(keys);
        std::string why;
        if (!Db_Reseal(keys.back(), [&](std::int64_t, std::int64_t) { ++reported; }, why))
            state.SkipWithError(why.c_str());
    }
    state.counters["rows"] = kRows;
    state.counters["progress_reports"] = double(reported) / double(state.iterations());
    Db_Database().close();
}
BENCHMARK(BM_ResealUnsentRows)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef TOLLAN_EXE
// The command as the administrator runs it: start, open, rotate 100 000 rows, drop the old key.
void BM_KeysRotateCommand(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString key = dir.filePath("card.key");
    Home_Set(dir.filePath("home"));
    std::string why;
    if (!CardKey_Open({key, true, "--card-key"}, true, nullptr, why) || !Db_Open() || !bench::StoreUnsentRows(kRows)) {
        state.SkipWithError("no rows");
        return;
    }
    Db_Database().close();
    for (auto _ : state) {
        QProcess rotate;
        rotate.start(TOLLAN_EXE, {"--home", dir.filePath("home"), "--card-key", key, "keys", "rotate"});
        if (!rotate.waitForFinished(120000) || rotate.exitCode() != 0)
            state.SkipWithError(rotate.readAllStandardError().constData());
    }
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_KeysRotateCommand)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
#endif

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
