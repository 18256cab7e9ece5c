#include "MenuBenchWorld.h"
#include "app/qt/MenuRenderer.h"
#include "app/menus/root/RootMenu.h"
#include "model/ActivityMonitor.h"

#include <QMenu>
#include <benchmark/benchmark.h>

using namespace corvane;

namespace {

using bench::ensureApplication;
using bench::MenuBenchWorld;
using bench::rootMenuEnvironment;

void BM_RootMenuConstruction(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    bench::timeRootMenuBuild(state, world, rootMenuEnvironment(world));
    state.counters["devices"] = double(world.devices.size());
}
BENCHMARK(BM_RootMenuConstruction)->Unit(benchmark::kMillisecond);

void BM_RootMenuUpdateWarm(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, rootMenuEnvironment(world));
    DispatchQueue::userInitiated()->sync([&world] { world.monitor->refreshProcesses(); });
    for (auto _ : state)
        menu->update();
    int visible = 0;
    for (const auto &row : menu->deviceItems())
        visible += !row->isHidden();
    state.counters["visible"] = visible;
}
BENCHMARK(BM_RootMenuUpdateWarm)->Unit(benchmark::kMillisecond);

// Opening a rendered menu: the opening hook (which marks the process list out
// of date, so that a listing starts in the background), the update from the
// last snapshot, the first fill of the QMenu and the main-queue turns that
// follow.
void BM_RootMenuOpenFirstTime(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    const auto env = rootMenuEnvironment(world);
    bench::timeFirstOpening<RootMenu>(
        state, [&world, &env] { return RootMenu::make("Corvane", world.toolset, env); });
    DispatchQueue::waitUntilIdle(std::chrono::seconds(60));
    bench::drainMainQueue();
}
BENCHMARK(BM_RootMenuOpenFirstTime)->Unit(benchmark::kMillisecond);

void BM_RootMenuReopen(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, rootMenuEnvironment(world));
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    bench::timeReopening(state, qmenu);
}
BENCHMARK(BM_RootMenuReopen)->Unit(benchmark::kMillisecond);

// The listing of processes alone, on a worker as opening starts it in the
// background instead of waiting for it.
void BM_ProcessListing(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    bench::timeOnWorker(state, [&world] { world.monitor->refreshProcesses(); });
}
BENCHMARK(BM_ProcessListing)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace
