#pragma once

// What the menu benchmarks share: an offscreen application and a world of
// 300 devices with 20 applications each.

#include "BenchApplication.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/root/RootMenu.h"
#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

namespace corvane::bench {

constexpr int kDevices = 300;
constexpr int kApplications = 20;
constexpr int kRunning = 100;
constexpr const char *kInfoPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>CFBundleIdentifier</key><string>com.example.app%1</string>"
    "<key>CFBundleName</key><string>App %1</string></dict></plist>\n";

inline void writeText(const QString &path, const QString &text, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// 300 devices on six runtimes with 20 installed applications each; a simctl
// whose usage text offers every command; a ps that names 100 devices as
// running, and a monitor whose clock stands still.
struct MenuBenchWorld {
    QTemporaryDir dir;
    std::shared_ptr<Toolset> toolset;
    std::vector<DevicePtr> devices;
    std::shared_ptr<ActivityMonitor> monitor;

    MenuBenchWorld()
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = dir.filePath("home");
        // The preset store of the status-bar submenus seeds its file there.
        paths.applicationSupport = dir.filePath("support");
        paths.configDir = dir.filePath("config");
        paths.ps = dir.filePath("ps");
        paths.syncDir = dir.filePath("sync");
        SystemPaths::setCurrent(paths);
        // Every "Open Recent" menu lists five URLs.
        CorvaneSettings::resetShared();
        CorvaneSettings::shared()->setRecentURLs(recentURLs());
        QString usage = "Subcommands:\n";
        for (Toolset::Command command : Toolset::allCommands())
            usage += "\t" + Toolset::subcommand(command) + "    Does it.\n";
        writeText(dir.filePath("usage"), usage);
        writeText(dir.filePath("Xcode.app/Contents/Developer/usr/bin/simctl"),
                  "#!/bin/sh\ncat '" + dir.filePath("usage") + "'\n", true);
        toolset = Toolset::make(QUrl::fromLocalFile(dir.filePath("Xcode.app")));
        if (!toolset)
            std::abort();

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
        // The tools run on a worker, as the program runs them.
        DispatchQueue::userInitiated()->sync([this] {
            toolset->supportedCommands();
            monitor->refreshProcesses();
        });
    }

    static QList<QUrl> recentURLs()
    {
        return {QUrl("https://example.com/docs"), QUrl("tel:5550100"), QUrl("maps:?q=cafe"),
                QUrl("mailto:dev@example.com"), QUrl("myapp://open/item/42")};
    }

    static MenuBenchWorld &shared()
    {
        static auto *world = new MenuBenchWorld;
        return *world;
    }
};

// The root menu of the world: with the program's own device menus (and so
// application menus) on the world's monitor, their submenus made by
// `submenus` (empty kinds the program's own), or with rows that have none.
inline RootMenu::Environment rootMenuEnvironment(const MenuBenchWorld &world,
                                                 bool withDeviceMenus = true,
                                                 const SubmenuFactories &submenus = {})
{
    RootMenu::Environment env;
    env.activityMonitor = world.monitor;
    env.devices = [&world](const std::shared_ptr<Toolset> &) { return world.devices; };
    if (withDeviceMenus) {
        env.deviceMenuFactory = [&world, submenus](const DevicePtr &device,
                                                   const std::shared_ptr<Toolset> &toolset,
                                                   bool apps, bool paired) -> MenuPtr {
            return DeviceMenu::make(device, toolset, apps, paired, {world.monitor, {}, submenus});
        };
    } else {
        env.deviceMenuFactory = [](const DevicePtr &, const std::shared_ptr<Toolset> &, bool,
                                   bool) -> MenuPtr { return nullptr; };
    }
    return env;
}

// Times the building of the world's root menu in `env`. `inspect` sees each
// built menu; it, the dropping of the menu and the work that follows on the
// main queue and the workers are not timed.
inline void timeRootMenuBuild(benchmark::State &state, const MenuBenchWorld &world,
                              const RootMenu::Environment &env,
                              const std::function<void(const RootMenu &)> &inspect = {})
{
    for (auto _ : state) {
        auto menu = RootMenu::make("Corvane", world.toolset, env);
        state.PauseTiming();
        if (inspect)
            inspect(*menu);
        menu.reset();
        drainMainQueue();
        DispatchQueue::waitUntilIdle(std::chrono::seconds(60));
        drainMainQueue();
        state.ResumeTiming();
    }
}

} // namespace corvane::bench
