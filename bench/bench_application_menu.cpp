#include "app/menus/application/ApplicationMenu.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/qt/MenuRenderer.h"
#include "app/menus/root/RootMenu.h"
#include "model/Application.h"
#include "model/Container.h"
#include "platform/notifications/NotificationCenter.h"
#include "MenuBenchWorld.h"

#include <QMenu>

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace corvane;

namespace {

using bench::drainMainQueue;
using bench::ensureApplication;
using bench::MenuBenchWorld;
using bench::rootMenuEnvironment;

size_t applicationMenus(const RootMenu &menu)
{
    size_t count = 0;
    for (const auto &row : menu.deviceItems())
        if (const auto submenu = row->submenu())
            for (const auto &item : submenu->items())
                count += std::dynamic_pointer_cast<ApplicationMenu>(item->submenu()) ? 1 : 0;
    return count;
}

// 300 devices with 20 applications each, every application row carrying its
// application menu, built as the first build does.
void BM_RootMenuWithApplicationMenus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    size_t menus = 0;
    bench::timeRootMenuBuild(state, world, rootMenuEnvironment(world),
                             [&menus](const RootMenu &menu) { menus = applicationMenus(menu); });
    state.counters["applicationMenus"] = double(menus);
}
BENCHMARK(BM_RootMenuWithApplicationMenus)->Unit(benchmark::kMillisecond);

// The same build with application rows that carry no menu: what the
// application menus add, measured beside it.
void BM_RootMenuWithoutApplicationMenus(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    SubmenuFactories submenus;
    submenus.applicationMenu = [](const std::shared_ptr<Application> &,
                                  const std::shared_ptr<Toolset> &, bool) { return nullptr; };
    bench::timeRootMenuBuild(state, world, rootMenuEnvironment(world, true, submenus));
}
BENCHMARK(BM_RootMenuWithoutApplicationMenus)->Unit(benchmark::kMillisecond);

// The 6,000 application menus alone, as the device menus make them: what
// deferring their items leaves of their cost.
void BM_ApplicationMenusMade6000(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    std::vector<std::shared_ptr<Application>> applications;
    for (const auto &device : world.devices)
        for (const auto &application : device->applications())
            applications.push_back(application);
    std::vector<std::shared_ptr<ApplicationMenu>> menus;
    menus.reserve(applications.size());
    for (auto _ : state) {
        for (const auto &application : applications)
            menus.push_back(ApplicationMenu::make(application, world.toolset, false));
        state.PauseTiming();
        menus.clear();
        drainMainQueue();
        state.ResumeTiming();
    }
    state.counters["menus"] = double(applications.size());
}
BENCHMARK(BM_ApplicationMenusMade6000)->Unit(benchmark::kMillisecond);

// An application of a running device whose data container is known, with a
// few of the well-known folders.
std::shared_ptr<Application> knownApplication(MenuBenchWorld &world)
{
    static std::shared_ptr<Application> application = [&world] {
        for (const auto &device : world.devices) {
            if (device->runtime().system() != Runtime::System::iOS ||
                !world.monitor->snapshot()->simulatorProcess(device->uuid()))
                continue;
            const auto applications = device->applications();
            if (applications.empty())
                continue;
            auto chosen = applications.front();
            const QString root = world.dir.filePath("containers/known");
            for (const char *folder : {"Library/Caches", "Library/Preferences", "Documents", "tmp"})
                QDir().mkpath(root + '/' + folder);
            chosen->setCachedDataContainer(std::make_shared<Container>(
                "com.example.app0", Container::dataContainerIdentifier, QUrl::fromLocalFile(root)));
            return chosen;
        }
        std::abort();
    }();
    return application;
}

// Opening a rendered application menu for the first time: its items are made,
// the QMenu filled, the refresh and the running mark applied on the turns
// that follow; the process list is fresh and the container known.
void BM_ApplicationMenuOpen(benchmark::State &state)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    const auto application = knownApplication(world);
    bench::timeFirstOpening<ApplicationMenu>(
        state,
        [&world, application] {
            return ApplicationMenu::make(application, world.toolset, false,
                                         {world.monitor, {}, {}});
        },
        [](ApplicationMenu &menu) {
            if (!menu.exportItem()->isEnabled() || menu.deviceItem()->state() != ControlState::On)
                std::abort();
        });
}
BENCHMARK(BM_ApplicationMenuOpen)->Unit(benchmark::kMillisecond);

// One application-updated notification while 6,000 application rows and
// menus live: the main-thread work that follows. `opened` fills every menu
// first, as if each had been opened once.
void applicationDidUpdate(benchmark::State &state, bool opened)
{
    ensureApplication();
    MenuBenchWorld &world = MenuBenchWorld::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, rootMenuEnvironment(world));
    if (opened)
        for (const auto &row : menu->deviceItems())
            for (const auto &item : row->submenu()->items())
                if (const auto submenu = item->submenu())
                    submenu->populateIfNeeded();
    drainMainQueue();
    const auto posted = world.devices[bench::kDevices / 2]->applications().front();
    for (auto _ : state) {
        state.PauseTiming();
        NotificationCenter::defaultCenter().post(Application::applicationDidUpdate, posted);
        state.ResumeTiming();
        drainMainQueue();
    }
    state.counters["applicationMenus"] = double(applicationMenus(*menu));
    menu.reset();
    drainMainQueue();
}

void BM_ApplicationDidUpdateWith6000Menus(benchmark::State &state)
{
    applicationDidUpdate(state, false);
}
BENCHMARK(BM_ApplicationDidUpdateWith6000Menus)->Unit(benchmark::kMillisecond);

void BM_ApplicationDidUpdateWith6000OpenedMenus(benchmark::State &state)
{
    applicationDidUpdate(state, true);
}
BENCHMARK(BM_ApplicationDidUpdateWith6000OpenedMenus)->Unit(benchmark::kMillisecond);

} // namespace
