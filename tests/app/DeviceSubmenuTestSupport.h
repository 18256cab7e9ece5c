#pragma once

#include "app/ManualScheduler.h"
#include "app/ShellTestSupport.h"
#include "app/menus/CommandManager.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/Menu.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <mutex>

namespace corvane::test {

// A workspace for actions that reach it from worker threads. It plays the
// Simulator application: terminateApplication asks it to quit, which it does
// after `checksBeforeQuitting` further looks (never while `ignoresTerminate`);
// each request is noted with the scheduler's time.
class SimulatorWorkspace : public Workspace {
public:
    explicit SimulatorWorkspace(std::shared_ptr<ManualScheduler> scheduler)
        : m_scheduler(std::move(scheduler))
    {
    }

    bool openApplication(const QString &bundlePath) override
    {
        note("open " + bundlePath);
        return true;
    }
    void activateIgnoringOtherApps() override { note("activate"); }
    bool terminateApplication(const QString &executablePath) override
    {
        std::lock_guard lock(m_mutex);
        m_events << QString("%1 terminate %2").arg(time(), executablePath);
        m_terminating = true;
        return true;
    }
    bool isApplicationRunning(const QString &) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_terminating || ignoresTerminate)
            return true;
        if (m_checks++ < checksBeforeQuitting)
            return true;
        m_events << time() + " quit";
        return false;
    }

    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

    int checksBeforeQuitting = 2;
    bool ignoresTerminate = false;

private:
    QString time() const { return QString::number(m_scheduler->now(), 'f', 1); }
    void note(const QString &event)
    {
        std::lock_guard lock(m_mutex);
        m_events << time() + " " + event;
    }

    const std::shared_ptr<ManualScheduler> m_scheduler;
    mutable std::mutex m_mutex;
    QStringList m_events;
    bool m_terminating = false;
    int m_checks = 0;
};

// A simulated Xcode with a booted iPhone, a ps that names the devices the
// test says run, a private activity monitor, command history and clock, and
// an alert presenter that answers as told.
class DeviceSubmenuTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        SystemPaths paths = tree.paths();
        paths.ps = path("ps");
        paths.configDir = SystemPaths::current().configDir;
        paths.syncDir = SystemPaths::current().syncDir;
        SystemPaths::setCurrent(paths);
        scheduler = std::make_shared<ManualScheduler>();
        simulator = std::make_shared<SimulatorWorkspace>(scheduler);
        Workspace::setShared(simulator);
        alerts = std::make_shared<RecordingAlertPresenter>();
        AlertPresenter::setShared(alerts);
        monitor = ActivityMonitor::make();
        setRunning({});
        commands = CommandManager::make();

        tree.addRuntime("iOS", "17.2");
        xcode = tree.addXcode();
        phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2", .booted = true});
        tablet = tree.addDevice({.name = "iPad Air", .runtime = "iOS 17.2", .booted = true});
        toolset = Toolset::make(QUrl::fromLocalFile(xcode));
        ASSERT_TRUE(toolset);
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
        toolset->setDeviceWatcher(watcher);
        tree.clearLog();
    }

    void TearDown() override
    {
        EXPECT_TRUE(test::waitForBackgroundWork());
        AlertPresenter::setShared(nullptr);
        ShellTest::TearDown();
    }

    // A ps that lists a simulator for each of these devices; the monitor has
    // read it.
    void setRunning(const QStringList &udids)
    {
        writeFile(path("list"), simulatorProcessLines(udids).toUtf8());
        writeScript(path("ps"), "cat '" + path("list") + "'");
        offMain([&] { monitor->refreshProcesses(); });
    }

    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }

    // The simctl calls made since the set-up, arguments joined by blanks.
    QStringList simctlCalls() const { return toolCalls("simctl"); }
    QStringList toolCalls(const QString &tool) const
    {
        QStringList calls;
        for (const fixture::Invocation &invocation : tree.invocations())
            if (invocation.tool == tool)
                calls << invocation.arguments.join(' ');
        return calls;
    }
    bool waitForCall(const QString &tool, const QString &call, int times = 1) const
    {
        return waitUntil([&] { return toolCalls(tool).count(call) >= times; });
    }

    fixture::FixtureTree tree;
    QString xcode, phone, tablet;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
    std::shared_ptr<ManualScheduler> scheduler;
    std::shared_ptr<SimulatorWorkspace> simulator;
    std::shared_ptr<RecordingAlertPresenter> alerts;
    std::shared_ptr<ActivityMonitor> monitor;
    std::shared_ptr<CommandManager> commands;
};

} // namespace corvane::test
