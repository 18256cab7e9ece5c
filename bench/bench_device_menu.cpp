#include "MenuBenchWorld.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/root/RootMenu.h"
#include "core/CorvaneSettings.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/notifications/NotificationCenter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

using namespace corvane;

namespace {

using bench::drainMainQueue;
using bench::ensureApplication;
using bench::kDevices;
using bench::MenuBenchWorld;
using bench::rootMenuEnvironment;

DeviceMenu::Environment deviceMenuEnvironment(const MenuBenchWorld &world)
{
    return {world.monitor, {}, {}};
}

// The root menu of 300 devices, each row with its device menu of 20
// application rows, built as the first build does.
void BM_RootMenuWithDeviceMenus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    size_t applicationRows = 0;
    bench::timeRootMenuBuild(state, world, rootMenuEnvironment(world), [&](const RootMenu &menu) {
        applicationRows = 0;
        for (const auto &row : menu.deviceItems())
            if (const auto submenu = row->submenu())
                for (const auto &item : submenu->items())
                    applicationRows += item->representedObject().isEmpty() ? 0 : 1;
    });
    state.counters["applicationRows"] = double(applicationRows);
}
BENCHMARK(BM_RootMenuWithDeviceMenus)->Unit(benchmark::kMillisecond);

// The same build with rows that have no submenu: what the device menus add.
void BM_RootMenuWithoutDeviceMenus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    bench::timeRootMenuBuild(state, world, rootMenuEnvironment(world, false));
}
BENCHMARK(BM_RootMenuWithoutDeviceMenus)->Unit(benchmark::kMillisecond);

// One device's application list changes while 300 device menus live: the
// whole main-thread work that follows (every turn), not the posting thread's.
void BM_ApplicationListChangeWith300Menus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, rootMenuEnvironment(world));
    drainMainQueue();
    const DevicePtr posting = world.devices[kDevices / 2];
    for (auto _ : state) {
        state.PauseTiming();
        NotificationCenter::defaultCenter().post(Device::applicationListDidChange, posting);
        state.ResumeTiming();
        drainMainQueue();
    }
    menu.reset();
    drainMainQueue();
}
BENCHMARK(BM_ApplicationListChangeWith300Menus)->Unit(benchmark::kMillisecond);

// The recent URLs change while 300 device menus live (200 of them with an
// "Open Recent" menu). Made on a worker (a URL opened from a menu), the main
// thread only sets the built items; made on the main thread ("Clear Menu"),
// it also hands each menu's build to the open-URLs queue.
void BM_RecentURLsChangeWith300Menus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    const bool onMain = state.range(0) == 1;
    auto menu = RootMenu::make("Corvane", world.toolset, rootMenuEnvironment(world));
    drainMainQueue();
    int recentMenus = 0;
    for (const auto &row : menu->deviceItems())
        if (const auto submenu = std::dynamic_pointer_cast<DeviceMenu>(row->submenu()))
            recentMenus += submenu->openRecentURLItem()->hasSubmenu() ? 1 : 0;
    const auto settings = CorvaneSettings::shared();
    QList<QUrl> urls = MenuBenchWorld::recentURLs();
    for (auto _ : state) {
        std::rotate(urls.begin(), urls.begin() + 1, urls.end());
        if (onMain) {
            settings->setRecentURLs(urls);
            state.PauseTiming();
        } else {
            state.PauseTiming();
            DispatchQueue::userInitiated()->sync([&] { settings->setRecentURLs(urls); });
        }
        DispatchQueue::waitUntilIdle(std::chrono::seconds(30));
        state.ResumeTiming();
        drainMainQueue();
    }
    settings->setRecentURLs(MenuBenchWorld::recentURLs());
    DispatchQueue::waitUntilIdle(std::chrono::seconds(30));
    drainMainQueue();
    menu.reset();
    drainMainQueue();
    state.counters["openRecentMenus"] = recentMenus;
}
BENCHMARK(BM_RecentURLsChangeWith300Menus)
    ->ArgName("onMain")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

std::shared_ptr<DeviceMenu> runningDeviceMenu(MenuBenchWorld &world)
{
    for (const auto &device : world.devices)
        if (device->runtime().system() == Runtime::System::iOS &&
            world.monitor->snapshot()->simulatorProcess(device->uuid()))
            return DeviceMenu::make(device, world.toolset, true, true,
                                    deviceMenuEnvironment(world));
    std::abort();
}

// Opening a rendered device menu of 20 applications: the update, the first
// fill of the QMenu and the rules one turn later, with the process list
// fresh (as it is within two seconds of the root menu's opening) or stale
// (the rules then answer from the last snapshot while a listing starts in the
// background).
void openDeviceMenu(benchmark::State &state, bool stale)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    bench::timeFirstOpening<DeviceMenu>(
        state, [&world] { return runningDeviceMenu(world); },
        [](DeviceMenu &menu) {
            if (!menu.launchItem()->isHidden())
                std::abort();
        },
        [&world, stale] {
            if (stale)
                world.monitor->markOutOfDate();
        });
}

void BM_DeviceMenuOpen(benchmark::State &state)
{
    openDeviceMenu(state, false);
}
BENCHMARK(BM_DeviceMenuOpen)->Unit(benchmark::kMillisecond);

void BM_DeviceMenuOpenStaleProcessList(benchmark::State &state)
{
    openDeviceMenu(state, true);
}
BENCHMARK(BM_DeviceMenuOpenStaleProcessList)->Unit(benchmark::kMillisecond);

// The rules alone on a shown menu: what each later update costs.
void BM_DeviceMenuRules(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = runningDeviceMenu(world);
    for (auto _ : state)
        menu->applyRules(menu->currentFacts());
}
BENCHMARK(BM_DeviceMenuRules)->Unit(benchmark::kMicrosecond);

} // namespace
