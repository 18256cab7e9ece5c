#include "BenchApplication.h"
#include "location/LastLocationsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <vector>

using namespace corvane;

namespace {

// A million points; a few in the quick run.
const int kPoints = bench::quick() ? 20'000 : 1'000'000;

std::vector<Location> makeRoute()
{
    std::vector<Location> route;
    route.reserve(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        Location point(47.0 + i * 1e-6, 8.0 + i * 1e-6);
        point.altitude = 400 + (i % 500) * 0.1;
        point.horizontalAccuracy = 5;
        point.verticalAccuracy = 8;
        point.course = (i % 3600) * 0.1;
        point.speed = 1.4;
        point.timestamp = 1700000000.0 + i * 0.5;
        route.push_back(point);
    }
    return route;
}

// Resident megabytes from /proc/self/status: "VmRSS" now, "VmHWM" the peak.
double statusMegabytes(const QByteArray &field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// How far the resident peak rises above what the process holds now, while
// `work` runs; the peak is reset first, so earlier work does not count.
template <class Work> double peakGrowth(Work work)
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const double before = statusMegabytes("VmRSS");
    work();
    return statusMegabytes("VmHWM") - before;
}

// Saving 1,000,000 points in pieces; the route itself is held before and
// does not count.
void BM_SaveLastLocations1M(benchmark::State &state)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    const auto route = makeRoute();
    double growth = 0;
    for (auto _ : state) {
        growth = std::max(growth, peakGrowth([&] {
                              if (!store.save(route))
                                  state.SkipWithError("not saved");
                          }));
    }
    state.counters["peak_growth_MB"] = growth;
    state.counters["file_MB"] = double(QFileInfo(store.path()).size()) / 1048576.0;
}
BENCHMARK(BM_SaveLastLocations1M)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reading them back, which makes the 1,000,000 locations: they count.
void BM_LoadLastLocations1M(benchmark::State &state)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    const auto route = makeRoute();
    if (!store.save(route)) {
        state.SkipWithError("not saved");
        return;
    }
    double growth = 0;
    bool equal = true;
    for (auto _ : state) {
        std::optional<std::vector<Location>> loaded;
        growth = std::max(growth, peakGrowth([&] { loaded = store.load(); }));
        state.PauseTiming();
        equal = equal && loaded == route;
        loaded.reset();
        state.ResumeTiming();
    }
    if (!equal)
        state.SkipWithError("the route did not come back equal");
    state.counters["peak_growth_MB"] = growth;
}
BENCHMARK(BM_LoadLastLocations1M)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
