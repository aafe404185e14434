#include "workstation/packet.h"

#include <benchmark/benchmark.h>

#include <string>

// Encode and decode of a purchase request without items: 196 bytes of data.
static void BM_PurchasePacket196(benchmark::State& state)
{
    tollan::PurchaseRequest q;
    q.Reference = "REF-0001";
    q.Date = 20261207;
    q.Time = 101530;
    q.Amount = 125000;
    q.PAN = "4761739001010010";
    q.CardData = "4761739001010010=2512101000000000000 12512";
    tollan::WorkstationPacket p;
    p.Workstation = "POS00001";
    p.WorkstationTrans = "00000042";
    p.Word2 = 256;
    p.AnswerType = tollan::wsPurchase;
    p.AnswerData = tollan::WS_EncodePurchase(q, {});
    for (auto _ : state) {
        std::string bytes = tollan::WS_EncodePacket(p);
        tollan::WorkstationPacket r;
        benchmark::DoNotOptimize(tollan::WS_DecodePacket(bytes, r));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_PurchasePacket196);

BENCHMARK_MAIN();
