#include "model/DeviceWatcher.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace corvane;

namespace {

constexpr int kDevices = 300;
constexpr int kRuntimes = 20;
constexpr int kPairs = 20;

QString udid(int index)
{
    return QString("A1B2C3D4-0000-4000-8000-%1").arg(index, 12, 10, QChar('0'));
}

// A listing shaped like a busy Xcode: device types and runtimes first, then
// 300 devices in 20 runtime groups (watches in the last ones), then the pairs.
struct Listing {
    QString text;
    QTemporaryDir home;

    Listing()
    {
        text += "== Device Types ==\n";
        for (int i = 0; i < 40; ++i)
            text += QString("iPhone %1 (com.apple.CoreSimulator.SimDeviceType.iPhone-%1)\n").arg(i);
        text += "== Runtimes ==\n";
        for (int r = 0; r < kRuntimes; ++r)
            text +=
                QString("iOS %1.0 (%1.0 - 21A328) - com.apple.CoreSimulator.SimRuntime.iOS-%1-0\n")
                    .arg(r + 1);
        text += "== Devices ==\n";
        const int perRuntime = kDevices / kRuntimes;
        for (int r = 0; r < kRuntimes; ++r) {
            const bool watches = r >= kRuntimes - 2;
            text += QString("-- %1 %2.0 --\n").arg(watches ? "watchOS" : "iOS").arg(r + 1);
            for (int d = 0; d < perRuntime; ++d) {
                const int index = r * perRuntime + d;
                text += QString("    %1 %2 (%3) (%4)\n")
                            .arg(watches ? "Apple Watch Series" : "iPhone")
                            .arg(index)
                            .arg(udid(index))
                            .arg(index % 7 == 0 ? "Booted" : "Shutdown");
            }
        }
        text += "== Device Pairs ==\n";
        for (int p = 0; p < kPairs; ++p) {
            const int watch = kDevices - 1 - p;
            text += QString("%1 (active, disconnected)\n").arg(udid(100000 + p));
            text += QString("    Watch: Apple Watch Series %1 (%2) (Shutdown)\n")
                        .arg(watch)
                        .arg(udid(watch));
            text += QString("    Phone: iPhone %1 (%2) (Shutdown)\n").arg(p).arg(udid(p));
        }

        SystemPaths paths = SystemPaths::current();
        paths.home = home.path();
        SystemPaths::setCurrent(paths);
        const QString devices = paths.coreSimulatorDevices();
        for (int i = 0; i < kDevices; ++i) {
            const QString folder = devices + '/' + udid(i);
            QDir().mkpath(folder);
            const QString type =
                i >= kDevices - 2 * (kDevices / kRuntimes)
                    ? "com.apple.CoreSimulator.SimDeviceType.Apple-Watch-Series-9-45mm"
                    : "com.apple.CoreSimulator.SimDeviceType.iPhone-15-Pro";
            if (!PropertyList::writeFile(folder + "/device.plist",
                                         QVariantMap{{"UDID", udid(i)}, {"deviceType", type}}))
                std::abort();
        }
    }
};

Listing &listing()
{
    static Listing instance;
    return instance;
}

void BM_DeviceListFirstParse(benchmark::State &state)
{
    const QString &text = listing().text;
    for (auto _ : state) {
        auto devices = DeviceWatcher::parseDeviceListText(text, nullptr, {});
        if (devices.size() != kDevices)
            state.SkipWithError("unexpected device count");
        benchmark::DoNotOptimize(devices);
    }
}
BENCHMARK(BM_DeviceListFirstParse)->Unit(benchmark::kMillisecond);

void BM_DeviceListReListing(benchmark::State &state)
{
    const QString &text = listing().text;
    const auto known = DeviceWatcher::parseDeviceListText(text, nullptr, {});
    for (auto _ : state) {
        auto devices = DeviceWatcher::parseDeviceListText(text, nullptr, known);
        if (devices.size() != kDevices || devices.begin()->second != known.begin()->second)
            state.SkipWithError("devices were not reused");
        benchmark::DoNotOptimize(devices);
    }
}
BENCHMARK(BM_DeviceListReListing)->Unit(benchmark::kMillisecond);

} // namespace
