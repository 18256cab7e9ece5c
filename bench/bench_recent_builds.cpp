// "Most Recent Builds" kept current on the main thread: a refresh over 300
// devices with 20 applications each, when nothing changed and when a new
// build enters (its application menu made, its contents not).

#include "MenuBenchWorld.h"
#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/root/RootMenu.h"
#include "app/menus/SubmenuFactories.h"
#include "model/Application.h"

#include <benchmark/benchmark.h>

#include <thread>

using namespace corvane;

namespace {

using bench::MenuBenchWorld;

// One more device whose only application is newer than every other.
DevicePtr deviceWithNewestBuild(const MenuBenchWorld &world)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const QString udid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    bench::writeText(SystemPaths::current().coreSimulatorDevices() + "/" + udid +
                         "/data/Containers/Bundle/Application/" +
                         QUuid::createUuid().toString(QUuid::WithoutBraces) +
                         "/Newest.app/Info.plist",
                     QString(bench::kInfoPlist).arg("Newest"));
    const QString listing =
        "== Devices ==\n-- iOS 17.5 --\n    Device New (" + udid + ") (Booted)\n";
    const auto devices = DeviceWatcher::parseDeviceListText(listing, world.toolset, {});
    return devices.empty() ? nullptr : devices.begin()->second;
}

struct RecentBuildsWorld {
    std::vector<DevicePtr> withNewest;
    bool newest = false;
    std::shared_ptr<RootMenu> menu;
    int menusMade = 0;

    explicit RecentBuildsWorld(MenuBenchWorld &world)
    {
        withNewest = world.devices;
        withNewest.push_back(deviceWithNewestBuild(world));
        Device::sort(withNewest);
        RootMenu::Environment env = bench::rootMenuEnvironment(world, false);
        env.devices = [this, &world](const std::shared_ptr<Toolset> &) {
            return newest ? withNewest : world.devices;
        };
        const auto factory = SubmenuFactories::standard().applicationMenu;
        env.applicationMenuFactory = [this, factory](const ApplicationPtr &application,
                                                     const std::shared_ptr<Toolset> &toolset,
                                                     bool showsDevice) {
            ++menusMade;
            return factory(application, toolset, showsDevice);
        };
        menu = RootMenu::make("Corvane", world.toolset, env);
    }
};

void BM_RecentBuildsRefreshUnchanged(benchmark::State &state)
{
    bench::ensureApplication();
    RecentBuildsWorld recent(MenuBenchWorld::shared());
    const int made = recent.menusMade;
    for (auto _ : state)
        recent.menu->refreshSubmenus();
    if (recent.menusMade != made)
        state.SkipWithError("an unchanged refresh made menus");
    state.counters["applications"] = double(bench::kDevices * bench::kApplications);
}
BENCHMARK(BM_RecentBuildsRefreshUnchanged)->Unit(benchmark::kMillisecond);

// Each refresh sees one build enter: the newest when its device comes, the
// third newest again when it goes.
void BM_RecentBuildsRefreshNewBuild(benchmark::State &state)
{
    bench::ensureApplication();
    RecentBuildsWorld recent(MenuBenchWorld::shared());
    const int made = recent.menusMade;
    for (auto _ : state) {
        recent.newest = !recent.newest;
        recent.menu->refreshSubmenus();
    }
    state.counters["menusPerRefresh"] =
        double(recent.menusMade - made) / double(state.iterations());
    const auto first = recent.menu->recentItems().front()->application();
    if (!first)
        state.SkipWithError("no recent build shown");
}
BENCHMARK(BM_RecentBuildsRefreshNewBuild)->Unit(benchmark::kMillisecond);

} // namespace
