#pragma once

#include "app/ShellTestSupport.h"
#include "app/menus/CommandManager.h"
#include "common/CaptureFakes.h"
#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {

// Points the ps of `dir` at a listing with a simulator for each of these
// devices.
inline void listSimulators(const QTemporaryDir &dir, const QStringList &udids)
{
    writeFile(dir.filePath("list"), simulatorProcessLines(udids).toUtf8());
    writeScript(dir.filePath("ps"), "cat '" + dir.filePath("list") + "'");
}

// A booted iPhone 15 (iOS 17.2) with two applications and a shut-down watch
// of a simulated Xcode; settings, captures, pasteboard, alerts and workspace
// of the test's own; a process monitor that finds the devices `setRunning`
// names.
class DeviceActionFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SystemPaths paths = tree.paths();
        paths.ps = dir.filePath("ps");
        paths.configDir = dir.filePath("config");
        paths.syncDir = dir.filePath("sync");
        SystemPaths::setCurrent(paths);
        QDir().mkpath(paths.temporaryDir);
        CorvaneSettings::resetShared();
        settings()->registerCommonSettings();
        settings()->setSavePath(QUrl::fromLocalFile(captures()));
        QDir().mkpath(captures());
        StatusBarPresetRepository::resetShared();
        writeFile(StatusBarPresetRepository::defaultFilePath(), "[]");
        pasteboard = std::make_shared<FakePasteboard>();
        Pasteboard::setGeneral(pasteboard);
        workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(workspace);
        alerts = std::make_shared<RecordingAlertPresenter>();
        AlertPresenter::setShared(alerts);
        monitor = ActivityMonitor::make();
        commands = CommandManager::make();

        tree.addRuntime("iOS", "17.2");
        tree.addRuntime("watchOS", "10.2");
        xcode = tree.addXcode();
        phone = tree.addDevice({.name = "iPhone 15",
                                .deviceType = "iPhone 15",
                                .runtime = "iOS 17.2",
                                .booted = true});
        watch = tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "watchOS 10.2"});
        tree.installApp(phone, {.identifier = "com.example.foo", .name = "Foo"});
        tree.installApp(phone, {.identifier = "com.example.bar", .name = "Bar"});
        toolset = Toolset::make(QUrl::fromLocalFile(xcode));
        ASSERT_TRUE(toolset);
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
        toolset->setDeviceWatcher(watcher);
        setRunning({phone});
        tree.clearLog();
    }

    void TearDown() override
    {
        const auto recording = device(phone)->recordingTask();
        if (recording) {
            device(phone)->stopRecording();
            waitUntil([&] { return !device(phone)->isRecording(); });
        }
        EXPECT_TRUE(waitForBackgroundWork());
        AlertPresenter::setShared(nullptr);
        Workspace::setShared(nullptr);
        Pasteboard::setGeneral(nullptr);
        StatusBarPresetRepository::resetShared();
        CorvaneSettings::resetShared();
        SystemPaths::resetToEnvironment();
    }

    static std::shared_ptr<CorvaneSettings> settings() { return CorvaneSettings::shared(); }
    QString captures() const { return dir.filePath("Captures"); }

    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }

    // A ps that lists a simulator for each of these devices, and the
    // monitor's snapshot of it.
    void setRunning(const QStringList &udids)
    {
        listSimulators(dir, udids);
        offMain([&] { monitor->refreshProcesses(); });
    }

    QStringList simctlCalls() const { return test::simctlCalls(tree); }

    QStringList recentURLs() const
    {
        QStringList urls;
        for (const QUrl &url : settings()->recentURLs().value_or(QList<QUrl>()))
            urls << url.toString();
        return urls;
    }

    QTemporaryDir dir;
    fixture::FixtureTree tree;
    QString xcode, phone, watch;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
    std::shared_ptr<FakePasteboard> pasteboard;
    std::shared_ptr<RecordingWorkspace> workspace;
    std::shared_ptr<RecordingAlertPresenter> alerts;
    std::shared_ptr<ActivityMonitor> monitor;
    std::shared_ptr<CommandManager> commands;
};

} // namespace corvane::test
