#pragma once

#include "app/ShellTestSupport.h"
#include "app/menus/CommandManager.h"
#include "app/menus/application/ApplicationMenu.h"
#include "common/StubTaskService.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/SavePanel.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {

// An iPhone and a watch of a simulated Xcode; Foo (version 1.2, build 34,
// two app groups) on the phone, which is booted, and Bar on the watch. The
// processes come from a ps that prints what the test sets.
class ApplicationMenuFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SystemPaths paths = tree.paths();
        paths.ps = dir.filePath("ps");
        paths.configDir = dir.filePath("config");
        paths.temporaryDir = dir.filePath("tmp");
        QDir().mkpath(paths.temporaryDir);
        SystemPaths::setCurrent(paths);
        defaults = UserDefaults::withFile(dir.filePath("defaults.conf"));
        UserDefaults::setStandard(defaults);
        workspace = std::make_shared<LockedWorkspace>();
        Workspace::setShared(workspace);
        alerts = std::make_shared<RecordingAlertPresenter>();
        AlertPresenter::setShared(alerts);
        openPanel = std::make_shared<RecordingOpenPanel>();
        OpenPanel::setShared(openPanel);
        savePanel = std::make_shared<RecordingSavePanel>();
        SavePanel::setShared(savePanel);
        tasks = std::make_shared<StubTaskService>();
        TaskService::setShared(tasks);
        ApplicationMenu::setLastPushPayload({});
        writeProcesses({});
        monitor = ActivityMonitor::make();
        commands = CommandManager::make();

        tree.addRuntime("iOS", "17.2");
        tree.addRuntime("watchOS", "10.2");
        xcode = tree.addXcode();
        phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2", .booted = true});
        watch = tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "watchOS 10.2"});
        tree.installApp(phone, {.identifier = "com.example.foo",
                                .name = "Foo",
                                .version = "1.2",
                                .build = "34",
                                .groups = {"group.example.a", "group.example.b"}});
        tree.installApp(watch, {.identifier = "com.example.bar", .name = "Bar"});
        toolset = Toolset::make(QUrl::fromLocalFile(xcode));
        ASSERT_TRUE(toolset);
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
        toolset->setDeviceWatcher(watcher);
        foo = application(phone, "com.example.foo");
        bar = application(watch, "com.example.bar");
        ASSERT_TRUE(foo && bar);
    }

    void TearDown() override
    {
        EXPECT_TRUE(test::waitForBackgroundWork());
        ApplicationMenu::setLastPushPayload({});
        TaskService::setShared(nullptr);
        SavePanel::setShared(nullptr);
        OpenPanel::setShared(nullptr);
        AlertPresenter::setShared(nullptr);
        Workspace::setShared(nullptr);
        UserDefaults::setStandard(nullptr);
        SystemPaths::resetToEnvironment();
    }

    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }

    ApplicationPtr application(const QString &udid, const QString &identifier) const
    {
        const auto table = device(udid)->applicationTable();
        const auto found = table.find(identifier);
        return found == table.end() ? nullptr : found->second;
    }

    // A ps that lists the simulators of these devices and these running
    // applications; the monitor reads it at once.
    void writeProcesses(const QStringList &udids, const std::vector<ApplicationPtr> &running = {})
    {
        QStringList lines{simulatorProcessLines(udids)};
        int pid = 500;
        for (const auto &application : running)
            lines << QString::number(pid++) + " ??  0:00.50 " + application->url().toLocalFile() +
                         "/" + application->executable();
        writeFile(dir.filePath("list"), lines.join('\n').toUtf8());
        writeScript(dir.filePath("ps"), "cat '" + dir.filePath("list") + "'");
    }
    void setRunning(const QStringList &udids, const std::vector<ApplicationPtr> &running = {})
    {
        writeProcesses(udids, running);
        offMain([&] { monitor->refreshProcesses(); });
    }

    ApplicationMenu::Environment environment() { return {monitor, commands, {}}; }

    // Made where the program makes it, filled where it is first opened.
    std::shared_ptr<ApplicationMenu> makeMenu(const ApplicationPtr &application,
                                              bool showsDevice = false)
    {
        auto menu = offMain([&] {
            return ApplicationMenu::make(application, toolset, showsDevice, environment());
        });
        menu->populateIfNeeded();
        return menu;
    }

    QStringList simctlCalls() const { return test::simctlCalls(tree); }

    QTemporaryDir dir;
    fixture::FixtureTree tree;
    QString xcode, phone, watch;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
    ApplicationPtr foo, bar;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<LockedWorkspace> workspace;
    std::shared_ptr<RecordingAlertPresenter> alerts;
    std::shared_ptr<RecordingOpenPanel> openPanel;
    std::shared_ptr<RecordingSavePanel> savePanel;
    std::shared_ptr<StubTaskService> tasks;
    std::shared_ptr<ActivityMonitor> monitor;
    std::shared_ptr<CommandManager> commands;
};

} // namespace corvane::test
