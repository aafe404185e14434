#include "protocol/frame.h"

#include <benchmark/benchmark.h>

#include <string>

// Frame and unframe of a 70-byte binary payload, the size of an authorisation request.
static void BM_FrameUnframe70(benchmark::State& state)
{
    std::string payload;
    for (int i = 0; i < 70; ++i)
        payload += static_cast<char>((i * 37 + 11) & 0xFF);
    for (auto _ : state) {
        std::string frame = tollan::KK_Frame(payload);
        std::string back = tollan::KK_Unframe(frame);
        benchmark::DoNotOptimize(back);
    }
}
BENCHMARK(BM_FrameUnframe70);

BENCHMARK_MAIN();
