#include "BenchApplication.h"

#include "location/LastLocationsStore.h"
#include "location/LocationSimulator.h"
#include "location/StepScheduler.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

using namespace corvane;

namespace {

std::vector<Location> makeRoute(int count, double interval, double lastLatitude = 0)
{
    std::vector<Location> route;
    route.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        Location point(47.0 + i * 1e-5, 8.0 + i * 1e-5);
        point.altitude = 400 + i % 50;
        point.horizontalAccuracy = 5;
        point.verticalAccuracy = 8;
        point.course = i % 360;
        point.speed = 1.4;
        point.timestamp = 1700000000.0 + i * interval;
        route.push_back(point);
    }
    if (lastLatitude != 0)
        route.back().coordinate.setLatitude(lastLatitude);
    return route;
}

std::shared_ptr<LocationSimulator> makeEngine(LocationSimulator::Environment environment)
{
    environment.devices = [] {
        return LocationSimulator::ToolsetDevices{true, true, true, {"BENCH-DEVICE"}};
    };
    auto engine = LocationSimulator::make(std::move(environment));
    while (!engine->isReady())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return engine;
}

// 1,000 steps 10 ms apart on the real timer (100 in the quick run); lateness
// is each gap between two sends beyond its 10 ms.
void BM_PlaybackStepLateness(benchmark::State &state)
{
    bench::ensureApplication();
    const size_t steps = bench::quick() ? 100 : 1000;
    std::vector<double> lateness;
    for (auto _ : state) {
        std::vector<Clock::time_point> sends;
        sends.reserve(steps + 100);
        LocationSimulator::Environment environment;
        environment.scheduler = std::make_shared<TimerStepScheduler>();
        environment.sink = [&sends](const Location &, const QStringList &) {
            sends.push_back(Clock::now());
        };
        auto engine = makeEngine(std::move(environment));
        engine->useWithLocations(makeRoute(int(steps) + 1, 0.010));
        sends.clear();
        engine->toggle();
        while (engine->playbackState() == LocationSimulator::PlaybackStatus::playing)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // sends: points 1 to the last, then point 0 at once; the timer spaced
        // 1 to the last.
        if (sends.size() != steps + 1) {
            state.SkipWithError("unexpected number of sends");
            return;
        }
        for (size_t i = 1; i < steps; ++i) {
            const double gap =
                std::chrono::duration<double, std::milli>(sends[i] - sends[i - 1]).count();
            lateness.push_back(std::max(0.0, gap - 10.0));
        }
    }
    std::sort(lateness.begin(), lateness.end());
    const auto at = [&](double quantile) {
        return lateness[std::min(lateness.size() - 1, size_t(quantile * double(lateness.size())))];
    };
    state.counters["p50_late_ms"] = at(0.50);
    state.counters["p99_late_ms"] = at(0.99);
    state.counters["max_late_ms"] = lateness.back();
}
BENCHMARK(BM_PlaybackStepLateness)
    ->Iterations(bench::quick() ? 1 : 3)
    ->Unit(benchmark::kMillisecond);

// Loading a 100,000-point route on the main thread: the comparison with the
// route held (two that differ only in the last point, so it runs to the end),
// the hand-off of the save, the first point sent and the notifications.
void BM_UseWithLocations100k(benchmark::State &state)
{
    bench::ensureApplication();
    QTemporaryDir dir;
    LocationSimulator::Environment environment;
    environment.store =
        std::make_shared<LastLocationsStore>(dir.filePath("support/LastLocations.json"));
    int sends = 0;
    environment.sink = [&sends](const Location &, const QStringList &) { ++sends; };
    auto engine = makeEngine(environment);
    const std::vector<std::vector<Location>> routes{makeRoute(100000, 1.0),
                                                    makeRoute(100000, 1.0, 48.5)};
    size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<Location> route = routes[next];
        next = 1 - next;
        state.ResumeTiming();
        engine->useWithLocations(std::move(route));
        state.PauseTiming();
        environment.store->waitForSaves();
        state.ResumeTiming();
    }
    if (sends == 0)
        state.SkipWithError("nothing was sent");
}
BENCHMARK(BM_UseWithLocations100k)->Unit(benchmark::kMillisecond)->Iterations(20);

// The background save of the same route, for comparison.
void BM_SaveLastLocations100k(benchmark::State &state)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    const auto route = makeRoute(100000, 1.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(store.save(route));
}
BENCHMARK(BM_SaveLastLocations100k)->Unit(benchmark::kMillisecond);

} // namespace
