#include "app/DeviceMenu.h"
#include "app/MenuRenderer.h"
#include "app/RootMenu.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
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
    static char name[] = "bench_device_menu";
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

// Runs main-queue work until none is left: every turn a change causes, and
// the Qt events that carried it, as the event loop would.
void drainMainQueue()
{
    do
        QCoreApplication::sendPostedEvents();
    while (DispatchQueue::drainMain() > 0);
}

// 300 devices on six runtimes with 20 installed applications each; a simctl
// whose usage text offers every command; a ps that names 100 devices as
// running, and a monitor whose clock stands still.
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
        QString usage = "Subcommands:\n";
        for (Toolset::Command command : Toolset::allCommands())
            usage += "\t" + Toolset::subcommand(command) + "    Does it.\n";
        writeText(dir.filePath("usage"), usage);
        writeText(dir.filePath("Xcode.app/Contents/Developer/usr/bin/simctl"),
                  "#!/bin/sh\ncat '" + dir.filePath("usage") + "'\n", true);
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

    DeviceMenu::Environment deviceMenuEnvironment() const { return {monitor, {}, {}}; }

    RootMenu::Environment environment(bool withDeviceMenus = true) const
    {
        RootMenu::Environment env;
        env.activityMonitor = monitor;
        env.devices = [this](const std::shared_ptr<Toolset> &) { return devices; };
        if (withDeviceMenus) {
            env.deviceMenuFactory = [this](const DevicePtr &device,
                                           const std::shared_ptr<Toolset> &toolset, bool apps,
                                           bool paired) -> MenuPtr {
                return DeviceMenu::make(device, toolset, apps, paired, deviceMenuEnvironment());
            };
        } else {
            env.deviceMenuFactory = [](const DevicePtr &, const std::shared_ptr<Toolset> &, bool,
                                       bool) -> MenuPtr { return nullptr; };
        }
        return env;
    }

    static World &shared()
    {
        static World *world = new World;
        return *world;
    }
};

void dropMenu(std::shared_ptr<RootMenu> &menu)
{
    menu.reset();
    drainMainQueue();
}

// The root menu of 300 devices, each row with its device menu of 20
// application rows, built as the first build does.
void BM_RootMenuWithDeviceMenus(benchmark::State &state)
{
    ensureApplication();
    World &world = World::shared();
    size_t applicationRows = 0;
    for (auto _ : state) {
        auto menu = RootMenu::make("Corvane", world.toolset, world.environment());
        state.PauseTiming();
        applicationRows = 0;
        for (const auto &row : menu->deviceItems())
            if (const auto submenu = row->submenu())
                for (const auto &item : submenu->items())
                    applicationRows += item->representedObject().isEmpty() ? 0 : 1;
        dropMenu(menu);
        state.ResumeTiming();
    }
    state.counters["applicationRows"] = double(applicationRows);
}
BENCHMARK(BM_RootMenuWithDeviceMenus)->Unit(benchmark::kMillisecond);

// The same build with rows that have no submenu: what the device menus add.
void BM_RootMenuWithoutDeviceMenus(benchmark::State &state)
{
    ensureApplication();
    World &world = World::shared();
    for (auto _ : state) {
        auto menu = RootMenu::make("Corvane", world.toolset, world.environment(false));
        state.PauseTiming();
        dropMenu(menu);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RootMenuWithoutDeviceMenus)->Unit(benchmark::kMillisecond);

// One device's application list changes while 300 device menus live: the
// whole main-thread work that follows (every turn), not the posting thread's.
void BM_ApplicationListChangeWith300Menus(benchmark::State &state)
{
    ensureApplication();
    World &world = World::shared();
    auto menu = RootMenu::make("Corvane", world.toolset, world.environment());
    drainMainQueue();
    const DevicePtr posting = world.devices[kDevices / 2];
    for (auto _ : state) {
        state.PauseTiming();
        NotificationCenter::defaultCenter().post(Device::applicationListDidChange, posting);
        state.ResumeTiming();
        drainMainQueue();
    }
    dropMenu(menu);
}
BENCHMARK(BM_ApplicationListChangeWith300Menus)->Unit(benchmark::kMillisecond);

std::shared_ptr<DeviceMenu> runningDeviceMenu(World &world)
{
    for (const auto &device : world.devices)
        if (device->runtime().system() == Runtime::System::iOS &&
            world.monitor->simulatorProcess(device->uuid()))
            return DeviceMenu::make(device, world.toolset, true, true,
                                    world.deviceMenuEnvironment());
    std::abort();
}

// Opening a rendered device menu of 20 applications: the update, the first
// fill of the QMenu and the rules one turn later, with the process list
// fresh (as it is within two seconds of the root menu's opening) or stale.
void openDeviceMenu(benchmark::State &state, bool stale)
{
    ensureApplication();
    World &world = World::shared();
    for (auto _ : state) {
        state.PauseTiming();
        auto menu = runningDeviceMenu(world);
        auto renderer = std::make_unique<MenuRenderer>();
        QMenu *qmenu = renderer->menuFor(menu);
        drainMainQueue();
        if (stale)
            world.monitor->markOutOfDate();
        state.ResumeTiming();
        qmenu->popup(QPoint(0, 0));
        drainMainQueue();
        state.PauseTiming();
        if (!menu->launchItem()->isHidden())
            std::abort();
        qmenu->hide();
        renderer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        menu.reset();
        drainMainQueue();
        state.ResumeTiming();
    }
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
    World &world = World::shared();
    auto menu = runningDeviceMenu(world);
    for (auto _ : state)
        menu->applyRules(menu->currentFacts());
}
BENCHMARK(BM_DeviceMenuRules)->Unit(benchmark::kMicrosecond);

} // namespace
