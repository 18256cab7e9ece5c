#include "app/menus/values/AppearanceBarMenu.h"
#include "app/menus/values/ContentSizeMenu.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/root/RootMenu.h"
#include "app/menus/values/StatusBarMenu.h"
#include "app/menus/values/TouchesMenu.h"
#include "app/menus/values/UnsplashMenu.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/processes/ChildProcess.h"
#include "platform/notifications/NotificationCenter.h"
#include "MenuBenchWorld.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

using namespace corvane;

namespace {

using bench::drainMainQueue;
using bench::ensureApplication;
using bench::kDevices;
using bench::MenuBenchWorld;
using bench::rootMenuEnvironment;

std::atomic<int> g_toolsOnBuildingThread{0};

// Device submenus that read the world's process list, as the program's read
// the shared one; or, for comparison, none of them.
SubmenuFactories deviceSubmenus(MenuBenchWorld &world, bool withSubmenus)
{
    SubmenuFactories submenus;
    if (withSubmenus) {
        submenus.contentSizeMenu = [&world](const DevicePtr &device,
                                            const std::shared_ptr<Toolset> &toolset) {
            return ContentSizeMenu::make(device, toolset, {world.monitor, {}, {}});
        };
        submenus.appearanceBarMenu = [&world](const DevicePtr &device,
                                              const std::shared_ptr<Toolset> &toolset) {
            return AppearanceBarMenu::make(device, toolset, {world.monitor, {}, {}});
        };
        submenus.touchesMenu = [&world](const DevicePtr &device,
                                        const std::shared_ptr<Toolset> &toolset) {
            return TouchesMenu::make(device, toolset, {world.monitor, {}, {}});
        };
    } else {
        const auto none = [](const DevicePtr &, const std::shared_ptr<Toolset> &) -> MenuPtr {
            return nullptr;
        };
        submenus.contentSizeMenu = submenus.appearanceBarMenu = submenus.statusBarMenu =
            submenus.touchesMenu = submenus.unsplashMenu = none;
    }
    return submenus;
}

// The root menu of 300 devices with 20 applications each, every device menu
// with its value, status-bar, touches and Unsplash submenus, built on the
// main thread as the benchmark's building thread, which counts any tool
// started there. The readings of running devices' values go to their queues;
// they are awaited between runs, untimed.
void buildRootMenus(benchmark::State &state, bool withSubmenus)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    ChildProcess::setMainThreadLaunchHandler(
        [](const QString &, const QStringList &) { ++g_toolsOnBuildingThread; });
    int submenus = 0;
    bench::timeRootMenuBuild(
        state, world, rootMenuEnvironment(world, true, deviceSubmenus(world, withSubmenus)),
        [&submenus](const RootMenu &menu) {
            submenus = 0;
            for (const auto &row : menu.deviceItems())
                if (const auto device = std::dynamic_pointer_cast<DeviceMenu>(row->submenu()))
                    for (const auto &item :
                         {device->contentSizeItem(), device->appearanceItem(),
                          device->statusBarItem(), device->touchesItem(), device->unsplashItem()})
                        submenus += item->hasSubmenu() ? 1 : 0;
        });
    ChildProcess::setMainThreadLaunchHandler({});
    state.counters["submenus"] = submenus;
    state.counters["toolsOnBuildingThread"] = g_toolsOnBuildingThread.load();
}

void BM_RootMenuWithDeviceSubmenus(benchmark::State &state)
{
    buildRootMenus(state, true);
}
BENCHMARK(BM_RootMenuWithDeviceSubmenus)->Unit(benchmark::kMillisecond);

// The same device menus without these submenus: what they add.
void BM_RootMenuWithoutDeviceSubmenus(benchmark::State &state)
{
    buildRootMenus(state, false);
}
BENCHMARK(BM_RootMenuWithoutDeviceSubmenus)->Unit(benchmark::kMillisecond);

// One saved change of a store of eight presets while 300 status-bar menus
// live: every rebuild the main thread runs for it.
void BM_PresetStoreChangeWith300Menus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    const auto repository =
        StatusBarPresetRepository::make(world.dir.filePath("StatusBarPresets.json"));
    std::vector<StatusBarPresetPtr> presets;
    for (int i = 0; i < 8; ++i)
        presets.push_back(StatusBarPreset::make(QString("Preset %1").arg(8 - i)));
    repository->setPresets(presets);
    DispatchQueue::waitUntilIdle(std::chrono::seconds(10));
    drainMainQueue();

    std::vector<std::shared_ptr<StatusBarMenu>> menus;
    for (int i = 0; i < kDevices; ++i)
        menus.push_back(
            StatusBarMenu::make(world.devices[size_t(i)], world.toolset, {repository, {}}));
    drainMainQueue();
    for (auto _ : state) {
        state.PauseTiming();
        NotificationCenter::defaultCenter().post(StatusBarPresetRepository::didChange, repository);
        state.ResumeTiming();
        drainMainQueue();
    }
    state.counters["menus"] = double(menus.size());
    menus.clear();
    drainMainQueue();
}
BENCHMARK(BM_PresetStoreChangeWith300Menus)->Unit(benchmark::kMillisecond);

} // namespace
