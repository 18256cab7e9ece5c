#include "core/Uuid.h"
#include "model/ActivityMonitor.h"

#include <QStringList>
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace corvane;

namespace {

// 3,000 lines as a busy machine lists them: 100 booted simulators, 200
// simulated applications, other CoreSimulator services and everyday processes.
QString processList()
{
    const QString devices = "/Users/developer/Library/Developer/CoreSimulator/Devices/";
    QStringList lines;
    for (int i = 0; i < 3000; ++i) {
        const QString head =
            QString("%1 ??         0:%2.%3 ").arg(1000 + i, 6).arg(i % 60).arg(i % 100);
        if (i % 30 == 0) {
            lines << head + "launchd_sim " + devices + newUuidString() +
                         "/data/var/run/launchd_bootstrap.plist";
        } else if (i % 15 == 0 || i % 30 == 7) {
            lines << head + devices + newUuidString() + "/data/Containers/Bundle/Application/" +
                         newUuidString() + "/Sample App.app/Sample App";
        } else if (i % 10 == 3) {
            lines << head +
                         "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/Versions/A/"
                         "XPCServices/com.apple.CoreSimulator.CoreSimulatorService.xpc/Contents/"
                         "MacOS/com.apple.CoreSimulator.CoreSimulatorService";
        } else {
            lines << head +
                         "/System/Library/PrivateFrameworks/SkyLight.framework/Resources/"
                         "WindowServer -daemon --flag-" +
                         QString::number(i);
        }
    }
    return lines.join('\n');
}

void BM_ParseProcessList(benchmark::State &state)
{
    const QString output = processList();
    const auto check = ActivityMonitor::parseProcessList(output);
    if (check.simulators.size() != 100 || check.applications.size() != 200)
        std::abort();
    for (auto _ : state) {
        auto list = ActivityMonitor::parseProcessList(output);
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(BM_ParseProcessList)->Unit(benchmark::kMillisecond);

} // namespace
