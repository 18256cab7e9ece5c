#pragma once

#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "fixtures/FixtureTree.h"
#include "location/LocationSimulator.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/notifications/DistributedNotificationRecorder.h"
#include "platform/menus/Menu.h"
#include "platform/menus/MenuObserver.h"
#include "platform/hotkeys/ModifierSource.h"
#include "platform/menus/StatusItem.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"
#include "shortcuts/ShortcutBinder.h"
#include "tasks/TaskManager.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << '[' << list.join(" | ").toStdString() << ']';
}

namespace corvane::test {

// Each item's title, "-" for a separator; with `visibleOnly`, only the items
// not hidden.
inline QStringList itemTitles(const std::vector<MenuItemPtr> &items, bool visibleOnly = false)
{
    QStringList result;
    for (const auto &item : items)
        if (!visibleOnly || !item->isHidden())
            result << (item->isSeparator() ? "-" : item->title());
    return result;
}

inline QStringList itemTitles(const Menu &menu)
{
    return itemTitles(menu.items());
}

class FakeModifiers : public ModifierSource {
public:
    KeyModifiers currentModifiers() const override { return modifiers; }
    KeyModifiers modifiers;
};

// Keeps one action per key, as the real binder does, and logs each call.
class FakeBinder : public ShortcutBinder {
public:
    void bindShortcutWithDefaultsKey(const QString &key, Action action) override
    {
        log << "bind " + key;
        bindings[key] = std::move(action);
    }
    void breakBindingWithDefaultsKey(const QString &key) override
    {
        log << "break " + key;
        bindings.erase(key);
    }
    std::map<QString, Action> bindings;
    QStringList log;
};

class CountingStatusItem : public RecordingStatusItem {
public:
    void setIcon(const ImageRef &icon) override
    {
        icons.push_back(icon);
        RecordingStatusItem::setIcon(icon);
    }
    void setHighlighted(bool highlighted) override
    {
        if (highlighted)
            ++highlights;
        RecordingStatusItem::setHighlighted(highlighted);
    }
    void setVisible(bool visible) override
    {
        if (visible)
            iconWhenShown = icon();
        RecordingStatusItem::setVisible(visible);
    }
    std::vector<ImageRef> icons;
    ImageRef iconWhenShown;
    int highlights = 0;
};

class MenuEvents : public MenuObserver {
public:
    void menuItemsDidChange(Menu &) override {}
    void menuItemDidChange(Menu &, const std::shared_ptr<MenuItem> &) override {}
    void menuTitleDidChange(Menu &) override {}
    void menuCancelTracking(Menu &) override { ++cancels; }
    int cancels = 0;
};

// A private settings store, distributed center, workspace and binder; resets
// the shared task list and location playback afterwards.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        SystemPaths paths = SystemPaths::current();
        paths.home = m_dir.filePath("home");
        paths.configDir = m_dir.filePath("config");
        paths.applicationSupport = m_dir.filePath("support");
        paths.syncDir = m_dir.filePath("sync");
        SystemPaths::setCurrent(paths);
        CorvaneSettings::resetShared();
        distributed = DistributedNotificationRecorder::make();
        DistributedNotificationCenter::setDefaultCenter(distributed);
        workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(workspace);
        binder = std::make_shared<FakeBinder>();
        ShortcutBinder::setSharedBinder(binder);
        // An engine that steps only when told, sends nothing and stores nothing.
        LocationSimulator::setShared(LocationSimulator::make({}));
    }

    void TearDown() override
    {
        EXPECT_TRUE(test::waitForBackgroundWork());
        ShortcutBinder::setSharedBinder(nullptr);
        Workspace::setShared(nullptr);
        DistributedNotificationCenter::setDefaultCenter(nullptr);
        for (const auto &task : TaskManager::shared()->tasks())
            TaskManager::shared()->remove(task);
        LocationSimulator::setShared(nullptr);
        CorvaneSettings::resetShared();
        SystemPaths::resetToEnvironment();
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    // Plays a three-point route; it stays on its second point.
    static void playRoute()
    {
        auto engine = LocationSimulator::shared();
        engine->useWithLocations({Location(1, 1), Location(2, 2), Location(3, 3)});
        engine->toggle();
    }

    std::shared_ptr<DistributedNotificationRecorder> distributed;
    std::shared_ptr<RecordingWorkspace> workspace;
    std::shared_ptr<FakeBinder> binder;

private:
    QTemporaryDir m_dir;
};

// Runs the work on the user-initiated queue and waits for it: where the
// program builds menus, lists devices and repeats commands, since no tool may
// start on the main thread.
template <class F> auto offMain(F &&work) -> decltype(work())
{
    return DispatchQueue::userInitiated()->sync(std::forward<F>(work));
}

// A recording workspace that menu actions may reach from the user-initiated
// queue.
class LockedWorkspace : public RecordingWorkspace {
public:
    bool openUrl(const QUrl &url) override
    {
        std::lock_guard lock(mutex);
        return RecordingWorkspace::openUrl(url);
    }
    bool openApplication(const QString &path) override
    {
        std::lock_guard lock(mutex);
        return RecordingWorkspace::openApplication(path);
    }
    bool revealFile(const QString &path) override
    {
        std::lock_guard lock(mutex);
        return RecordingWorkspace::revealFile(path);
    }
    bool showFolder(const QString &path) override
    {
        std::lock_guard lock(mutex);
        return RecordingWorkspace::showFolder(path);
    }
    void activateIgnoringOtherApps() override
    {
        std::lock_guard lock(mutex);
        RecordingWorkspace::activateIgnoringOtherApps();
    }
    std::optional<QString> activateSimulator() override
    {
        std::lock_guard lock(mutex);
        return RecordingWorkspace::activateSimulator();
    }
    // The requests of one operation, in order.
    QStringList made(const QString &operation)
    {
        std::lock_guard lock(mutex);
        QStringList arguments;
        for (const Request &request : requests)
            if (request.operation == operation)
                arguments << request.argument;
        return arguments;
    }
    std::mutex mutex;
};

// The simctl calls of a tree other than listings and usage texts, in order,
// each as its arguments joined by blanks.
inline QStringList simctlCalls(const fixture::FixtureTree &tree)
{
    QStringList calls;
    for (const fixture::Invocation &invocation : tree.invocations())
        if (invocation.tool == "simctl" && !invocation.arguments.isEmpty() &&
            invocation.arguments[0] != "list" && invocation.arguments[0] != "help")
            calls << invocation.arguments.join(' ');
    return calls;
}

// What ps prints for a running simulator of each of these devices.
inline QString simulatorProcessLines(const QStringList &udids)
{
    QStringList lines;
    int pid = 100;
    for (const QString &udid : udids)
        lines << QString::number(pid++) +
                     " ??  0:01.00 launchd_sim /Users/u/Library/Developer/CoreSimulator/"
                     "Devices/" +
                     udid + "/data/var/run/launchd_bootstrap.plist";
    return lines.join('\n');
}

} // namespace corvane::test
