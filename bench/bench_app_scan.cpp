#include "BenchApplication.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

using namespace corvane;

namespace {

// 300 devices; a few in the quick run.
const int kDevices = bench::quick() ? 10 : 300;
constexpr int kAppsPerDevice = 20;

// 300 devices with 20 applications each, half of them with binary Info.plist
// files, and a ps that lists every device's simulator so that one answer
// serves the whole scan.
struct BenchTree {
    QTemporaryDir dir;
    std::shared_ptr<Toolset> toolset;
    QStringList udids;

    BenchTree()
    {
        const QString bin = dir.path() + "/Xcode.app/Contents/Developer/usr/bin";
        QDir().mkpath(bin);
        QFile::copy(QStringLiteral(CORVANE_BENCH_TOOLS_DIR) + "/benchtool_print_line",
                    bin + "/simctl");

        SystemPaths paths = SystemPaths::current();
        paths.home = dir.path() + "/home";
        const QString devices = paths.coreSimulatorDevices();
        QByteArray processes;
        for (int d = 0; d < kDevices; ++d) {
            const QString udid = newUuidString();
            udids << udid;
            processes += QString("%1 ?? 0:00.10 launchd_sim %2/%3/data/var/run/"
                                 "launchd_bootstrap.plist\n")
                             .arg(1000 + d)
                             .arg(devices, udid)
                             .toUtf8();
            for (int a = 0; a < kAppsPerDevice; ++a) {
                const QString bundle = devices + "/" + udid +
                                       "/data/Containers/Bundle/Application/" + newUuidString() +
                                       QString("/App %1.app").arg(a);
                QDir().mkpath(bundle);
                const QVariantMap info{
                    {"CFBundleIdentifier", QString("com.example.app%1").arg(a)},
                    {"CFBundleName", QString("App %1").arg(a)},
                    {"CFBundleExecutable", QString("App%1").arg(a)},
                    {"CFBundleShortVersionString", "1.0"},
                    {"CFBundleVersion", "1"},
                    {"MinimumOSVersion", "17.0"},
                    {"CFBundleURLTypes",
                     QVariantList{QVariantMap{{"CFBundleURLSchemes", QStringList{"app"}}}}}};
                PropertyList::writeFile(bundle + "/Info.plist", info, a % 2 == 1);
            }
        }
        QFile list(dir.path() + "/ps.txt");
        list.open(QIODevice::WriteOnly);
        list.write(processes);
        list.close();
        const QString script = dir.path() + "/ps.sh";
        QFile ps(script);
        ps.open(QIODevice::WriteOnly);
        ps.write("#!/bin/sh\ncat '" + QFile::encodeName(list.fileName()) + "'\n");
        ps.close();
        ps.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        paths.ps = script;
        SystemPaths::setCurrent(paths);

        toolset = Toolset::make(QUrl::fromLocalFile(dir.path() + "/Xcode.app"));
        if (!toolset)
            std::abort();
    }

    DevicePtr device(int index) const
    {
        return Device::initFromListLine("iPhone 15 (" + udids[index] + ") (Booted)",
                                        {Runtime::System::iOS, "17.5"}, toolset);
    }
};

BenchTree &tree()
{
    static BenchTree instance;
    return instance;
}

void BM_FirstScanOf300Devices(benchmark::State &state)
{
    auto &bench = tree();
    for (auto _ : state) {
        ActivityMonitor::shared()->markOutOfDate();
        std::vector<DevicePtr> devices;
        devices.reserve(kDevices);
        for (int d = 0; d < kDevices; ++d)
            devices.push_back(bench.device(d));
        state.PauseTiming();
        for (const auto &device : devices) {
            if (device->applications().size() != kAppsPerDevice)
                state.SkipWithError("missing applications");
        }
        devices.clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstScanOf300Devices)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RescanOfAnUnchangedDevice(benchmark::State &state)
{
    const auto device = tree().device(0);
    for (auto _ : state)
        device->reloadApplications();
    if (device->applications().size() != kAppsPerDevice)
        state.SkipWithError("missing applications");
}
BENCHMARK(BM_RescanOfAnUnchangedDevice)->Unit(benchmark::kMicrosecond);

} // namespace
