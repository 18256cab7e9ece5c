#include "core/Toolset.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace corvane;

namespace {

// An Xcode bundle whose simctl is the small compiled tool.
struct BenchXcode {
    QTemporaryDir dir;
    std::shared_ptr<Toolset> toolset;

    BenchXcode()
    {
        const QString bin = dir.path() + "/Xcode.app/Contents/Developer/usr/bin";
        QDir().mkpath(bin);
        QFile::copy(QStringLiteral(CORVANE_BENCH_TOOLS_DIR) + "/benchtool_print_line",
                    bin + "/simctl");
        toolset = Toolset::make(QUrl::fromLocalFile(dir.path() + "/Xcode.app"));
        if (!toolset)
            std::abort();
    }
};

BenchXcode &xcode()
{
    static BenchXcode instance;
    return instance;
}

void BM_ToolsetRunOneLine(benchmark::State &state)
{
    auto toolset = xcode().toolset;
    for (auto _ : state) {
        auto output = toolset->run({"list"});
        if (!output || *output != "== Devices ==")
            state.SkipWithError("unexpected output");
        benchmark::DoNotOptimize(output);
    }
}
BENCHMARK(BM_ToolsetRunOneLine)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ToolsetRunFourMiB(benchmark::State &state)
{
    auto toolset = xcode().toolset;
    for (auto _ : state) {
        auto output = toolset->run({"big", QString::number(4 * 1024 * 1024)});
        if (!output || output->size() != 4 * 1024 * 1024)
            state.SkipWithError("unexpected output");
        benchmark::DoNotOptimize(output);
    }
}
BENCHMARK(BM_ToolsetRunFourMiB)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
