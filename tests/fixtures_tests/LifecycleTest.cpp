#include "FixtureTestSupport.h"

#include "common/TestSupport.h"
#include "fixtures/sim/SimApps.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <chrono>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::fixture::checks;

namespace {

QString processLine(pid_t pid)
{
    for (const QString &line : coreSimulatorProcessLines()) {
        if (line.trimmed().startsWith(QString::number(pid) + " "))
            return line;
    }
    return {};
}

} // namespace

TEST(FakeSimctlLifecycle, BootStartsLaunchdSimThatPsShowsAndShutdownEndsIt)
{
    SmallTree small;
    const auto started = std::chrono::steady_clock::now();
    const RunResult boot = small.simctl({"boot", small.udid});
    // launchd_sim holds none of our pipes, so the call returns at once.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(boot.timedOut);
    EXPECT_EQ(boot.exitCode, 0);
    EXPECT_TRUE(boot.out.isEmpty() && boot.err.isEmpty());

    const RunResult again = small.simctl({"boot", small.udid});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_TRUE(again.out.isEmpty());
    EXPECT_EQ(QString::fromUtf8(again.err), "An error was encountered processing the command "
                                            "(domain=com.apple.CoreSimulator.SimError, code=405):\n"
                                            "Unable to boot device in current state: Booted\n");
    EXPECT_EQ(small.tree.device(small.udid)->state, DeviceState::Booted);

    const pid_t launchd = launchdPid(*small.tree.device(small.udid));
    ASSERT_GT(launchd, 0);
    const auto match = simulatorLineExpression().match(processLine(launchd));
    ASSERT_TRUE(match.hasMatch()) << processLine(launchd).toStdString();
    EXPECT_EQ(match.captured(5), small.udid);

    EXPECT_EQ(small.simctl({"shutdown", small.udid}).exitCode, 0);
    EXPECT_TRUE(waitUntilGone(launchd, 2000));
    EXPECT_EQ(small.tree.device(small.udid)->state, DeviceState::Shutdown);
    const RunResult twice = small.simctl({"shutdown", small.udid});
    EXPECT_TRUE(twice.err.contains("Unable to shutdown device in current state: Shutdown"));
}

TEST(FakeSimctlLifecycle, LaunchedAppRunsUnderItsBundlePathUntilTerminated)
{
    SmallTree small(true);
    const AppInstall app = small.tree.installApp(small.udid, sampleApp());
    const RunResult launch = small.simctl({"launch", small.udid, app.identifier});
    ASSERT_EQ(launch.exitCode, 0) << launch.err.toStdString();
    const QString printed = QString::fromUtf8(launch.out).trimmed();
    ASSERT_TRUE(printed.startsWith(app.identifier + ": "));
    const pid_t pid = printed.section(": ", 1).toInt();

    const auto match = applicationLineExpression().match(processLine(pid));
    ASSERT_TRUE(match.hasMatch()) << processLine(pid).toStdString();
    EXPECT_EQ(match.captured(4), app.bundlePath + "/Sample");
    EXPECT_EQ(match.captured(5), small.udid);
    EXPECT_EQ(match.captured(6), app.bundleUuid);

    // A second launch finds the running instance.
    EXPECT_EQ(small.simctl({"launch", small.udid, app.identifier}).out, launch.out);
    EXPECT_EQ(small.simctl({"terminate", small.udid, app.identifier}).exitCode, 0);
    EXPECT_TRUE(waitUntilGone(pid, 2000));
    const RunResult nothing = small.simctl({"terminate", small.udid, app.identifier});
    EXPECT_NE(nothing.exitCode, 0);
    EXPECT_TRUE(nothing.err.contains("code=3"));
    EXPECT_TRUE(nothing.err.contains("found nothing to terminate"));

    // Shutting the device down ends its apps too.
    const pid_t again = small.tree.launchApp(small.udid, app.identifier);
    ASSERT_GT(again, 0);
    EXPECT_EQ(small.simctl({"shutdown", small.udid}).exitCode, 0);
    EXPECT_TRUE(waitUntilGone(again, 2000));
    EXPECT_NE(small.simctl({"launch", small.udid, app.identifier}).exitCode, 0);
}

TEST(FakeSimctlLifecycle, ReinstallMovesTheBundleAndKeepsDataUninstallRemovesBoth)
{
    SmallTree small(true);
    const QString source = small.tree.makeAppBundle(small.tree.root() + "/build", sampleApp());
    ASSERT_EQ(small.simctl({"install", small.udid, source}).exitCode, 0);
    const QString bundle =
        QString::fromUtf8(small.simctl({"get_app_container", small.udid, "com.example.sample"}).out)
            .trimmed();
    const QString data =
        QString::fromUtf8(
            small.simctl({"get_app_container", small.udid, "com.example.sample", "data"}).out)
            .trimmed();
    ASSERT_TRUE(QFileInfo(bundle + "/Info.plist").isFile());
    for (const QString &folder : {"Library/Caches", "Library/Preferences", "Documents", "tmp"})
        EXPECT_TRUE(QFileInfo(data + "/" + folder).isDir()) << folder.toStdString();
    ASSERT_TRUE(test::writeFile(data + "/Documents/kept.txt", "kept"));

    const pid_t running = small.tree.launchApp(small.udid, "com.example.sample");
    ASSERT_EQ(small.simctl({"install", small.udid, source}).exitCode, 0);
    const QString moved =
        QString::fromUtf8(small.simctl({"get_app_container", small.udid, "com.example.sample"}).out)
            .trimmed();
    EXPECT_NE(QFileInfo(moved).path(), QFileInfo(bundle).path());
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(bundle).path()));
    EXPECT_TRUE(waitUntilGone(running, 2000));
    EXPECT_EQ(QString::fromUtf8(
                  small.simctl({"get_app_container", small.udid, "com.example.sample", "data"}).out)
                  .trimmed(),
              data);
    EXPECT_EQ(test::readFile(data + "/Documents/kept.txt"), "kept");

    const RunResult groups =
        small.simctl({"get_app_container", small.udid, "com.example.sample", "groups"});
    const QStringList parts = QString::fromUtf8(groups.out).trimmed().split('\t');
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts.first(), "group.com.example.shared");
    EXPECT_TRUE(QFileInfo(parts.last()).isDir());

    EXPECT_EQ(small.simctl({"uninstall", small.udid, "com.example.sample"}).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(moved));
    EXPECT_FALSE(QFileInfo::exists(data));
    EXPECT_NE(small.simctl({"get_app_container", small.udid, "com.example.sample"}).exitCode, 0);
}

TEST(FakeSimctlLifecycle, StateRulesRefuseWhatTheDeviceStateForbids)
{
    SmallTree small;
    const AppSpec spec = sampleApp();
    small.tree.installApp(small.udid, spec);
    // Shut down: app commands need a booted device.
    for (const QStringList &arguments :
         {QStringList{"launch", small.udid, spec.identifier},
          QStringList{"get_app_container", small.udid, spec.identifier},
          QStringList{"ui", small.udid, "appearance"}}) {
        const RunResult refused = small.simctl(arguments);
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_TRUE(refused.err.contains("Unable to lookup in current state: Shutdown"));
    }
    EXPECT_TRUE(small.simctl({"boot", "FFFFFFFF-0000-4000-8000-000000000000"})
                    .err.contains("Invalid device: FFFFFFFF-0000-4000-8000-000000000000"));

    ASSERT_TRUE(small.tree.boot(small.udid));
    EXPECT_TRUE(small.simctl({"erase", small.udid}).err.contains("current state: Booted"));
    EXPECT_TRUE(small.simctl({"delete", small.udid}).err.contains("current state: Booted"));
    EXPECT_TRUE(small.tree.device(small.udid).has_value());

    ASSERT_TRUE(small.tree.shutdown(small.udid));
    EXPECT_EQ(small.simctl({"erase", small.udid}).exitCode, 0);
    EXPECT_TRUE(installedApps(*small.tree.device(small.udid)).isEmpty());
    EXPECT_EQ(small.simctl({"delete", small.udid}).exitCode, 0);
    EXPECT_FALSE(small.tree.device(small.udid).has_value());
}

TEST(FakeSimctlLifecycle, PreviewsSetIsDeletedOnItsOwn)
{
    SmallTree small;
    const QString previews =
        small.tree.home() + "/Library/Developer/Xcode/UserData/Previews/Simulator Devices";
    SimDevice preview;
    preview.devicesDir = previews;
    preview.udid = "0A0A0A0A-0000-4000-8000-000000000001";
    preview.name = "iPhone 15 Pro";
    preview.runtime = "com.apple.CoreSimulator.SimRuntime.iOS-17-5";
    ASSERT_TRUE(preview.write());
    EXPECT_EQ(small.simctl({"--set", "previews", "delete", "all"}).exitCode, 0);
    EXPECT_TRUE(deviceUdids(previews).isEmpty());
    EXPECT_TRUE(small.tree.device(small.udid).has_value());
}

TEST(FakeSimctlLifecycle, BootedAllAndUnavailableSelectTheirDevices)
{
    SmallTree small;
    EXPECT_TRUE(
        small.simctl({"ui", "booted", "appearance"}).err.contains("No devices are booted."));
    const QString other = small.tree.addDevice({"iPhone 15", {}, "iOS 17.5", true, {}});
    const QString stale = small.tree.addDevice({"iPhone 14", {}, "iOS 16.0"});
    EXPECT_EQ(small.simctl({"ui", "booted", "appearance", "dark"}).exitCode, 0);
    EXPECT_EQ(small.tree.deviceExtras(other).value("appearance"), QVariant("dark"));
    // Lower-case UDIDs name the same device.
    EXPECT_EQ(small.simctl({"ui", other.toLower(), "appearance"}).out, "dark\n");

    const RunResult unbootable = small.simctl({"boot", stale});
    EXPECT_NE(unbootable.exitCode, 0);
    EXPECT_TRUE(unbootable.err.contains("unavailable"));
    EXPECT_EQ(small.simctl({"delete", "unavailable"}).exitCode, 0);
    EXPECT_FALSE(small.tree.device(stale).has_value());
    EXPECT_TRUE(small.tree.device(small.udid).has_value());

    EXPECT_EQ(small.simctl({"shutdown", "all"}).exitCode, 0);
    EXPECT_FALSE(small.tree.device(other)->isBooted());
    EXPECT_EQ(small.simctl({"erase", "all"}).exitCode, 0);

    const RunResult notBundle = small.simctl({"install", small.udid, small.tree.root()});
    EXPECT_NE(notBundle.exitCode, 0);
    ASSERT_TRUE(small.tree.boot(small.udid));
    EXPECT_TRUE(small.simctl({"install", small.udid, small.tree.root() + "/none.app"})
                    .err.contains("Failed to get bundle ID"));
    EXPECT_TRUE(small.simctl({"launch", small.udid, "com.example.none"})
                    .err.contains("The request to open \"com.example.none\" failed."));
    EXPECT_EQ(small.simctl({"delete", "all"}).exitCode, 0);
    EXPECT_TRUE(deviceUdids(small.tree.devicesDir()).isEmpty());
    EXPECT_TRUE(small.tree.processes().isEmpty());
}
