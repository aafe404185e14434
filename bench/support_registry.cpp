#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <string>

#include <fcntl.h>
#include <unistd.h>

// The trace number counter saved once per purchase into a registry of the size a shop's holds
// (some 40 settings), on the disk of TMPDIR, against the floor of the same bytes written, synced
// and renamed into place. The third figure adds the folder's sync after the rename, which a save
// would need to last through a power cut (not only a crash of the program).
namespace {

void Fill()
{
    using namespace tollan;
    for (int i = 0; i < 40; ++i)
        Cfg_Put("Setting" + std::to_string(i), "value of setting " + std::to_string(i));
}

void BM_SaveTheCounter(benchmark::State& state)
{
    using namespace tollan;
    QTemporaryDir home;
    Home_Set(home.path());
    Cfg_SetRoot(kCfgRoot);
    Ui_SetHeadless(true);
    Fill();
    int n = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(Cfg_Put("NextNumber", std::to_string(++n)));
}
BENCHMARK(BM_SaveTheCounter)->Unit(benchmark::kMicrosecond);

void BM_FloorWriteSyncRename(benchmark::State& state)
{
    QTemporaryDir home;
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "Setting" + std::to_string(i) + "=value of setting " + std::to_string(i) + "\n";
    for (auto _ : state) {
        QSaveFile f(home.filePath("registry.ini"));
        f.open(QIODevice::WriteOnly);
        f.write(text.data(), qint64(text.size()));
        benchmark::DoNotOptimize(f.commit());
    }
}
BENCHMARK(BM_FloorWriteSyncRename)->Unit(benchmark::kMicrosecond);

void BM_FloorWithTheFolderSynced(benchmark::State& state)
{
    QTemporaryDir home;
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "Setting" + std::to_string(i) + "=value of setting " + std::to_string(i) + "\n";
    const QByteArray dir = QFile::encodeName(home.path());
    for (auto _ : state) {
        QSaveFile f(home.filePath("registry.ini"));
        f.open(QIODevice::WriteOnly);
        f.write(text.data(), qint64(text.size()));
        benchmark::DoNotOptimize(f.commit());
        const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
        ::fsync(fd);
        ::close(fd);
    }
}
BENCHMARK(BM_FloorWithTheFolderSynced)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
