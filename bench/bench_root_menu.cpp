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
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace corvane;

namespace {

constexpr int kDevices = 300;
constexpr int kApplications = 20;
constexpr int kRunning = 100;
constexpr const char *kInfoPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>CFBundleIdentifier</key><string>com.example.app%1</string>"
    "<key>CFBundleName</key><string>App %1</string></dict></plist>\n";

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

void writeText(const QString &path, const QString &text, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// 300 devices on six runtimes with 20 installed applications each, listed
// once; a ps that names 100 of them as running, and a monitor whose clock
// stands still, so that it lists processes only when told to.
struct World {
    QTemporaryDir dir;
    std::shared_ptr<Toolset> toolset;
    std::vector<DevicePtr> devices;
    std::shared_ptr<ActivityMonitor> monitor;

    World()
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = dir.filePath("home");
        paths.ps = dir.filePath("ps");
        SystemPaths::setCurrent(paths);
        writeText(dir.filePath("Xcode.app/Contents/Developer/usr/bin/simctl"), "#!/bin/sh\n", true);
        toolset = Toolset::make(QUrl::fromLocalFile(dir.filePath("Xcode.app")));
        if (!toolset)
            std::abort();
        toolset->supportedCommands();

        const QStringList runtimes{"iOS 17.5",     "iOS 17.2",  "iOS 16.4",
                                   "watchOS 10.5", "tvOS 17.5", "visionOS 1.2"};
        QString listing = "== Devices ==\n";
        QStringList running;
        for (int r = 0; r < runtimes.size(); ++r) {
            listing += "-- " + runtimes[r] + " --\n";
            for (int i = r; i < kDevices; i += int(runtimes.size())) {
                const QString udid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
                listing += "    Device " + QString::number(i) + " (" + udid + ") (Booted)\n";
                const QString applications = paths.home +
                                             "/Library/Developer/CoreSimulator/Devices/" + udid +
                                             "/data/Containers/Bundle/Application/";
                for (int a = 0; a < kApplications; ++a)
                    writeText(applications + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                                  QString("/App %1.app/Info.plist").arg(a),
                              QString(kInfoPlist).arg(a));
                if (i < kRunning)
                    running << QString::number(1000 + i) +
                                   " ??  0:01.00 launchd_sim /Users/u/Library/Developer/"
                                   "CoreSimulator/Devices/" +
                                   udid + "/data/var/run/launchd_bootstrap.plist";
            }
        }
        writeText(dir.filePath("ps-list"), running.join('\n'));
        writeText(paths.ps, "#!/bin/sh\ncat '" + dir.filePath("ps-list") + "'\n", true);

        for (const auto &[uuid, device] : DeviceWatcher::parseDeviceListText(listing, toolset, {}))
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

namespace {

// The listing of processes that opening forces, alone: what the opening
// figures spend waiting for ps.
void BM_ProcessListing(benchmark::State &state)
{
    ensureApplication();
    World &world = World::shared();
    for (auto _ : state)
        world.monitor->refreshProcesses();
}
BENCHMARK(BM_ProcessListing)->Unit(benchmark::kMillisecond);

} // namespace
