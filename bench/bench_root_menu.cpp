#include "app/MenuRenderer.h"
#include "app/RootMenu.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/SystemPaths.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <benchmark/benchmark.h>

using namespace corvane;
using namespace corvane::fixture;

namespace {

constexpr int kDevices = 300;
constexpr int kApplications = 20;
constexpr int kRunning = 100;

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "bench_root_menu";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    Q_UNUSED(app);
}

// 300 devices on six runtimes with 20 applications each, listed once; a ps
// that names 100 of them as running, and a monitor whose clock stands still,
// so that it lists processes only when told to.
struct World {
    FixtureTree tree;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
    std::vector<DevicePtr> devices;
    std::shared_ptr<ActivityMonitor> monitor;

    World()
    {
        SystemPaths paths = tree.paths();
        paths.ps = tree.root() + "/ps";
        SystemPaths::setCurrent(paths);
        const QStringList runtimes{"iOS 17.5",     "iOS 17.2",  "iOS 16.4",
                                   "watchOS 10.5", "tvOS 17.5", "visionOS 1.2"};
        for (const QString &runtime : runtimes)
            tree.addRuntime(runtime.section(' ', 0, 0), runtime.section(' ', 1));
        QStringList running;
        for (int i = 0; i < kDevices; ++i) {
            const QString runtime = runtimes[i % runtimes.size()];
            const QString udid =
                tree.addDevice({.name = "Device " + QString::number(i), .runtime = runtime});
            for (int a = 0; a < kApplications; ++a)
                tree.installApp(udid, {.identifier = QString("com.example.app%1").arg(a),
                                       .name = QString("App %1").arg(a)});
            if (i < kRunning)
                running << QString::number(1000 + i) +
                               " ??  0:01.00 launchd_sim /Users/u/Library/Developer/"
                               "CoreSimulator/Devices/" +
                               udid + "/data/var/run/launchd_bootstrap.plist";
        }
        QFile list(tree.root() + "/ps-list");
        list.open(QIODevice::WriteOnly);
        list.write(running.join('\n').toUtf8());
        list.close();
        QFile ps(paths.ps);
        ps.open(QIODevice::WriteOnly);
        ps.write(("#!/bin/sh\ncat '" + tree.root() + "/ps-list'\n").toUtf8());
        ps.close();
        ps.setPermissions(ps.permissions() | QFileDevice::ExeOwner);

        toolset = Toolset::make(QUrl::fromLocalFile(tree.addXcode()));
        toolset->supportedCommands();
        watcher = DeviceWatcher::make(toolset);
        for (const auto &[uuid, device] : *watcher->all())
            devices.push_back(device);
        Device::sort(devices);
        const auto now = ActivityMonitor::TimePoint::clock::now();
        monitor = ActivityMonitor::make([now] { return now; });
        monitor->refreshProcesses();
    }

    RootMenu::Environment environment() const
    {
        RootMenu::Environment env;
        env.activityMonitor = monitor;
        env.devices = [this](const std::shared_ptr<Toolset> &) { return devices; };
        return env;
    }

    static World &shared()
    {
        static World *world = new World;
        return *world;
    }
};

void BM_RootMenuConstruction(benchmark::State &state)
{
    ensureApplication();
    World &world = World::shared();
    for (auto _ : state) {
        auto menu = RootMenu::make("Corvane", world.toolset, world.environment());
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
    World &world = World::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, world.environment());
    world.monitor->refreshProcesses();
    for (auto _ : state)
        menu->update();
    int visible = 0;
    for (const auto &row : menu->deviceItems())
        visible += !row->isHidden();
    state.counters["visible"] = visible;
}
BENCHMARK(BM_RootMenuUpdateWarm)->Unit(benchmark::kMillisecond);

// Opening a rendered menu: the opening hook (which makes the next running
// check list processes afresh), the update and the first fill of the QMenu.
void BM_RootMenuOpenFirstTime(benchmark::State &state)
{
    ensureApplication();
    World &world = World::shared();
    for (auto _ : state) {
        state.PauseTiming();
        auto menu = RootMenu::make("Corvane", world.toolset, world.environment());
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
    World &world = World::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, world.environment());
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    for (auto _ : state) {
        qmenu->popup(QPoint(0, 0));
        state.PauseTiming();
        qmenu->hide();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RootMenuReopen)->Unit(benchmark::kMillisecond);

} // namespace
