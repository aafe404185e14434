// Rendering the built-in receipt with a full set of values (goal: under 20 microseconds).
#include "receipts/template.h"

#include <benchmark/benchmark.h>

static void BM_RenderBuiltinReceipt(benchmark::State& state)
{
    const std::string values =
        "Name=Kauplus;Address=P\xE4rnu mnt 5, Tallinn;RegNr=10203040;Number=42;POS=001;Date=2026-12-07;"
        "Time=1899-12-30 14:03:59;PAN=4111111111111111;PANManual=;ExpDate=2027-11-01;AuthCode=123456;"
        "AuthManual=;Amount=12.35;PANhidden=411111******1111;";
    for (auto _ : state) benchmark::DoNotOptimize(tollan::Tpl_Render(tollan::kBuiltinReceipt, values));
}
BENCHMARK(BM_RenderBuiltinReceipt);

BENCHMARK_MAIN();
