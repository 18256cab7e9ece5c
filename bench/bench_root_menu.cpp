#include "app/MenuRenderer.h"
#include "app/RootMenu.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/SystemPaths.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QUuid>
#include "MenuBenchWorld.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace corvane;

namespace {

using bench::ensureApplication;
using bench::MenuBenchWorld;

RootMenu::Environment rootEnvironment(const MenuBenchWorld &world)
{
    RootMenu::Environment env;
    env.activityMonitor = world.monitor;
    env.devices = [&world](const std::shared_ptr<Toolset> &) { return world.devices; };
    return env;
}

void BM_RootMenuConstruction(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    for (auto _ : state) {
        auto menu = RootMenu::make("Corvane", world.toolset, rootEnvironment(world));
        benchmark::DoNotOptimize(menu);
        state.PauseTiming();
        menu.reset();
        state.ResumeTiming();
    }
    state.counters["devices"] = double(world.devices.size());
}
BENCHMARK(BM_RootMenuConstruction)->Unit(benchmark::kMillisecond);

void BM_RootMenuUpdateWarm(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, rootEnvironment(world));
    world.monitor->refreshProcesses();
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
// last snapshot and the first fill of the QMenu.
void BM_RootMenuOpenFirstTime(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    for (auto _ : state) {
        state.PauseTiming();
        auto menu = RootMenu::make("Corvane", world.toolset, rootEnvironment(world));
        auto renderer = std::make_unique<MenuRenderer>();
        QMenu *qmenu = renderer->menuFor(menu);
        state.ResumeTiming();
        qmenu->popup(QPoint(0, 0));
        state.PauseTiming();
        qmenu->hide();
        renderer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        menu.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RootMenuOpenFirstTime)->Unit(benchmark::kMillisecond);

void BM_RootMenuReopen(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, rootEnvironment(world));
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    bench::timeReopening(state, qmenu);
}
BENCHMARK(BM_RootMenuReopen)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// The listing of processes alone, which opening starts in the background
// instead of waiting for it.
void BM_ProcessListing(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    for (auto _ : state)
        world.monitor->refreshProcesses();
}
BENCHMARK(BM_ProcessListing)->Unit(benchmark::kMillisecond);

} // namespace
