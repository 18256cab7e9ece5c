#include "FixtureTestSupport.h"

#include "common/TestSupport.h"
#include "core/Uuid.h"
#include "fixtures/DemoTree.h"
#include "fixtures/sim/SimApps.h"
#include "platform/formats/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::fixture::checks;

TEST(FixtureTree, LaysOutXcodesRuntimesAndPathsTheProgramReads)
{
    FixtureTree tree;
    const QString xcode = tree.addXcode({"Xcode.app", "15.2", "15C500b", {}, {}});
    tree.selectXcode(xcode);
    tree.addRuntime("iOS", "17.0");
    tree.addRuntime("watchOS", "10.2", "21S364");

    const SystemPaths paths = tree.paths();
    EXPECT_EQ(paths.applicationsDir, tree.root() + "/Applications/");
    EXPECT_EQ(paths.home, tree.root() + "/home");
    EXPECT_TRUE(QFileInfo(paths.xcodeSelect).isExecutable());
    EXPECT_TRUE(QFileInfo(paths.defaults).isExecutable());
    EXPECT_TRUE(QFileInfo(paths.open).isExecutable());
    EXPECT_TRUE(QFileInfo(paths.ps).isExecutable());
    EXPECT_TRUE(QFileInfo(paths.coreSimulatorDevices()).isDir());
    EXPECT_TRUE(tree.environment().contains("CORVANE_HOME=" + paths.home));
    EXPECT_EQ(tree.environment().size(), 12);
    EXPECT_TRUE(paths.autostartDir.startsWith(paths.home + "/"));
    EXPECT_TRUE(paths.stateDir.startsWith(paths.home + "/"));

    EXPECT_EQ(PropertyList::readDictionary(xcode + "/Contents/Info.plist")
                  ->value("CFBundleShortVersionString"),
              QVariant("15.2"));
    EXPECT_EQ(PropertyList::readDictionary(xcode + "/Contents/version.plist")
                  ->value("ProductBuildVersion"),
              QVariant("15C500b"));
    EXPECT_TRUE(QFileInfo(xcode + "/Contents/Developer/usr/bin/simctl").isExecutable());
    EXPECT_TRUE(QFileInfo(xcode + "/Contents/Developer/Applications/Simulator.app").isDir());
    EXPECT_EQ(QFileInfo(paths.xcodeSelectLink()).symLinkTarget(), xcode + "/Contents/Developer");

    const auto images = PropertyList::readDictionary(paths.coreSimulatorImages);
    ASSERT_TRUE(images.has_value());
    const QVariantList list = images->value("images").toList();
    ASSERT_EQ(list.size(), 2);
    const QVariantMap info = list.at(1).toMap().value("runtimeInfo").toMap();
    EXPECT_EQ(info.value("bundleIdentifier"),
              QVariant("com.apple.CoreSimulator.SimRuntime.watchOS-10-2"));
    EXPECT_EQ(info.value("build"), QVariant("21S364"));
    EXPECT_TRUE(list.at(0).toMap().contains("uuid"));
    EXPECT_TRUE(list.at(0).toMap().value("path").toMap().contains("relative"));

    // Reopening a tree keeps what was built.
    FixtureTree reopened(tree.root());
    reopened.keepProcessesRunning();
    EXPECT_EQ(reopened.xcodes(), (QStringList{xcode}));
    EXPECT_EQ(reopened.simctl({"list", "runtimes"}).out,
              "== Runtimes ==\n"
              "iOS 17.0 (17.0 - 21A328) - com.apple.CoreSimulator.SimRuntime.iOS-17-0\n"
              "watchOS 10.2 (10.2 - 21S364) - com.apple.CoreSimulator.SimRuntime.watchOS-10-2\n");
}

TEST(FixtureTree, InstalledAppsCarryTheirInfoIconsSchemesAndContainers)
{
    SmallTree small;
    AppSpec clip = sampleApp();
    clip.identifier = "com.example.sample.Clip";
    clip.name = "Sample Clip";
    clip.displayName = "Sample";
    clip.icons = true;
    clip.appClip = true;
    clip.binaryInfoPlist = true;
    const AppInstall install = small.tree.installApp(small.udid, clip);
    ASSERT_FALSE(install.bundlePath.isEmpty());
    EXPECT_TRUE(install.bundlePath.startsWith(small.tree.devicesDir() + "/" + small.udid +
                                              "/data/Containers/Bundle/Application/" +
                                              install.bundleUuid + "/Sample Clip.app"));
    EXPECT_TRUE(parseUuid(install.bundleUuid).has_value());
    EXPECT_EQ(install.bundleUuid, install.bundleUuid.toUpper());
    EXPECT_TRUE(test::readFile(install.bundlePath + "/Info.plist").startsWith("bplist00"));
    const auto info = PropertyList::readDictionary(install.bundlePath + "/Info.plist");
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->contains("NSAppClip"));
    EXPECT_EQ(info->value("CFBundleDisplayName"), QVariant("Sample"));
    EXPECT_EQ(info->value("CFBundleExecutable"), QVariant("SampleClip"));
    EXPECT_TRUE(QFileInfo(install.bundlePath + "/SampleClip").isExecutable());
    const QVariantMap primary =
        info->value("CFBundleIcons").toMap().value("CFBundlePrimaryIcon").toMap();
    EXPECT_EQ(primary.value("CFBundleIconFiles").toList().value(0), QVariant("AppIcon60x60"));
    EXPECT_EQ(QImage(install.bundlePath + "/AppIcon60x60@2x.png").width(), 120);
    EXPECT_EQ(info->value("CFBundleURLTypes").toList().value(0).toMap().value("CFBundleURLSchemes"),
              QVariant(QVariantList{"sample"}));
    EXPECT_TRUE(install.dataContainer.contains("/data/Containers/Data/Application/"));
    EXPECT_TRUE(install.groupContainers.value("group.com.example.shared")
                    .contains("/data/Containers/Shared/AppGroup/"));
    EXPECT_EQ(PropertyList::readDictionary(install.dataContainer + "/" + kContainerMetadata)
                  ->value("MCMMetadataIdentifier"),
              QVariant("com.example.sample.Clip"));
}

TEST(FixtureTree, EndsEveryProcessOfTheTreeAndLeavesNone)
{
    QList<pid_t> pids;
    QString root;
    {
        SmallTree small(true);
        root = small.tree.root();
        const AppInstall app = small.tree.installApp(small.udid, sampleApp());
        small.simctl({"launch", small.udid, app.identifier});
        small.tree.startSimulatorApp(small.xcode);
        ASSERT_TRUE(test::waitUntil([&] { return small.tree.processes().size() == 3; }));
        for (const TreeProcess &process : small.tree.processes())
            pids.append(process.pid);
        EXPECT_EQ(small.tree.processes().size(), 3);
    }
    EXPECT_FALSE(QFileInfo::exists(root));
    for (const pid_t pid : pids) {
        // Reaped, not left as zombies.
        EXPECT_FALSE(QFileInfo::exists(QString("/proc/%1").arg(pid))) << pid;
    }
    EXPECT_TRUE(treeProcesses(root).isEmpty());
}

TEST(DemoTree, IsLaidOutOnceAndRevivedAfterAStop)
{
    QTemporaryDir scratch;
    const QString root = QFileInfo(scratch.path()).canonicalFilePath() + "/demo";
    QString error;
    ASSERT_TRUE(layOutDemo(root, &error)) << error.toStdString();
    FixtureTree tree(root);

    const QStringList udids = deviceUdids(tree.devicesDir());
    EXPECT_EQ(udids.size(), 12);
    int booted = 0;
    for (const QString &udid : udids)
        booted += tree.device(udid)->isBooted() ? 1 : 0;
    EXPECT_EQ(booted, 2);
    EXPECT_EQ(tree.xcodes().size(), 2);
    EXPECT_EQ(readPairs(tree.devicesDir()).size(), 1);
    const QString list = QString::fromUtf8(tree.simctl({"list"}).out);
    for (const QString &heading :
         {"-- iOS 17.5 --", "-- iOS 18.0 --", "-- watchOS 10.5 --", "-- tvOS 17.5 --",
          "-- visionOS 1.2 --", "-- Unavailable: com.apple.CoreSimulator.SimRuntime.iOS-16-4 --"})
        EXPECT_TRUE(list.contains(heading)) << heading.toStdString();
    // Two launchd_sim, one app, one Simulator.
    const auto running = tree.processes().size();
    EXPECT_EQ(running, 4);

    tree.stopProcesses();
    EXPECT_TRUE(tree.processes().isEmpty());
    ASSERT_TRUE(layOutDemo(root, &error));
    EXPECT_EQ(deviceUdids(tree.devicesDir()), udids);
    EXPECT_TRUE(test::waitUntil([&] { return tree.processes().size() == running; }));
    ASSERT_TRUE(layOutDemo(root, &error));
    EXPECT_EQ(tree.processes().size(), running);
}
