#include "links/tcp.h"

#include "bench/await.h"
#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

// A card centre that accepts the connection and says nothing: the terminal's wait for its answer
// must sleep, not spin. Reports the CPU the waiting thread used per second of waiting.
static double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

static void BM_WaitForASilentPeer(benchmark::State& state)
{
    using namespace tollan;
    QTemporaryDir home;
    Home_Set(home.path());
    Cfg_SetRoot(kCfgRoot);
    Ui_SetHeadless(true);
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    const std::int16_t seconds = std::int16_t(state.range(0));
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        Socket s;
        bench::Await(Tcp_Connect(s, "127.0.0.1:" + std::to_string(silent.serverPort()), 5));
        const double c0 = CpuSeconds();
        QElapsedTimer t;
        t.start();
        benchmark::DoNotOptimize(bench::Await(Tcp_WaitFor(s, "\r", seconds)));
        wall += double(t.elapsed()) / 1000.0;
        cpu += CpuSeconds() - c0;
        Tcp_Close(s);
    }
    state.counters["cpu_share_of_a_core_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["waited_s"] = wall;
}
BENCHMARK(BM_WaitForASilentPeer)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
