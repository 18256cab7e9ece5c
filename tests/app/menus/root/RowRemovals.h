#pragma once

#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/root/RootMenu.h"
#include "app/qt/MenuRenderer.h"
#include "app/qt/StrayWidgets.h"
#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/files/SystemPaths.h"
#include "platform/queues/DispatchQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>

// Rows leaving the status menu, shared by the offscreen and the X11 tests:
// whatever a row had on screen goes with it.
namespace corvane::test {

// A root menu over two phones of the simulated Xcode, Foo and Bar on the
// first and Baz on the second (the newest build), as the renderer shows it.
class RowRemovalStage {
public:
    RowRemovalStage()
    {
        xcode = tree.addXcode();
        tree.addRuntime("iOS", "17.2");
        phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2"});
        phone2 = tree.addDevice({.name = "iPhone 15 Plus", .runtime = "iOS 17.2"});
        foo = install(phone, "com.example.foo", "Foo");
        bar = install(phone, "com.example.bar", "Bar");
        install(phone2, "com.example.baz", "Baz");
        // Settings the menus read stay inside the tree.
        SystemPaths paths = tree.paths();
        paths.configDir = tree.root() + "/config";
        paths.syncDir = tree.root() + "/sync";
        SystemPaths::setCurrent(paths);
        CorvaneSettings::resetShared();
        toolset = Toolset::make(QUrl::fromLocalFile(xcode));
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
        toolset->setDeviceWatcher(watcher);
        listed = {device(phone), device(phone2)};
        RootMenu::Environment env;
        env.devices = [this](const std::shared_ptr<Toolset> &) {
            std::lock_guard lock(mutex);
            return listed;
        };
        menu = offMain([&] { return RootMenu::make("Corvane", toolset, env); });
    }
    ~RowRemovalStage()
    {
        renderer.release(menu);
        menu.reset();
        DispatchQueue::waitUntilIdle(std::chrono::seconds(10));
        DispatchQueue::drainMain();
        SystemPaths::resetToEnvironment();
        CorvaneSettings::resetShared();
    }

    template <class F> static auto offMain(F &&work) -> decltype(work())
    {
        return DispatchQueue::userInitiated()->sync(std::forward<F>(work));
    }
    fixture::AppInstall install(const QString &udid, const QString &identifier, const QString &name)
    {
        // Each bundle newer than the last.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        return tree.installApp(udid, {.identifier = identifier, .name = name});
    }
    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }
    void rescan(const QString &udid)
    {
        offMain([&] { device(udid)->reloadApplications(); });
    }
    void list(std::vector<DevicePtr> devices)
    {
        std::lock_guard lock(mutex);
        listed = std::move(devices);
    }
    QStringList recentTitles() const
    {
        QStringList titles;
        for (const auto &item : menu->recentItems())
            titles << (item->application() ? item->application()->title() : "-");
        return titles;
    }
    MenuItemPtr phoneRow() const
    {
        for (const auto &item : menu->deviceItems())
            if (item->representedObject().as<Device>()->udid() == phone)
                return item;
        return nullptr;
    }
    // Rows of the first phone's own menu that name an application.
    QStringList phoneApplications() const
    {
        QStringList titles;
        if (const auto row = phoneRow(); row && row->submenu())
            for (const auto &item : row->submenu()->items())
                if (item->representedObject().is<Application>())
                    titles << item->title();
        return titles;
    }
    // The rebuild a device-list notification starts, finished.
    void rebuild()
    {
        postNotification(Notifications::deviceListDidChange);
        DispatchQueue::drainMain();
        menu->queue()->sync([] {});
        DispatchQueue::drainMain();
    }

    // Opens the root menu and the first phone's menu beside it; what each
    // paints beyond its rows.
    std::vector<QStringList> openAndLook(QPoint at)
    {
        QMenu *root = renderer.menuFor(menu);
        root->popup(at);
        EXPECT_TRUE(waitUntil([&] { return root->isVisible(); }));
        std::vector<QStringList> found{strayWidgets(root)};
        if (const auto row = phoneRow(); row && row->submenu()) {
            QMenu *own = renderer.existingMenu(row->submenu().get());
            EXPECT_TRUE(own);
            if (own) {
                own->popup(at + QPoint(root->width(), 0));
                EXPECT_TRUE(waitUntil([&] { return own->isVisible(); }));
                found.push_back(strayWidgets(own));
                own->hide();
            }
        }
        root->hide();
        return found;
    }

    fixture::FixtureTree tree;
    QString xcode, phone, phone2;
    fixture::AppInstall foo, bar;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
    std::mutex mutex;
    std::vector<DevicePtr> listed;
    MenuRenderer renderer;
    std::shared_ptr<RootMenu> menu;
};

struct RowRemoval {
    const char *name;
    std::function<void(RowRemovalStage &)> change;
    // What the menu's model shows once the change has reached it.
    std::function<bool(const RowRemovalStage &)> reached;
};

inline const std::vector<RowRemoval> &rowRemovals()
{
    static const std::vector<RowRemoval> removals{
        {"an application uninstalled",
         [](RowRemovalStage &stage) {
             QDir(QFileInfo(stage.bar.bundlePath).path()).removeRecursively();
             stage.rescan(stage.phone);
         },
         [](const RowRemovalStage &stage) {
             return stage.recentTitles() == QStringList({"Baz", "Foo", "-"}) &&
                    stage.phoneApplications() == QStringList({"Foo"});
         }},
        {"a device removed",
         [](RowRemovalStage &stage) {
             stage.list({stage.device(stage.phone)});
             stage.rebuild();
         },
         [](const RowRemovalStage &stage) {
             return stage.recentTitles() == QStringList({"Bar", "Foo", "-"}) &&
                    stage.menu->deviceItems().size() == 1;
         }},
        {"a recent build replaced",
         [](RowRemovalStage &stage) {
             QDir(QFileInfo(stage.foo.bundlePath).path()).removeRecursively();
             stage.install(stage.phone, "com.example.qux", "Qux");
             stage.rescan(stage.phone);
         },
         [](const RowRemovalStage &stage) {
             return stage.recentTitles() == QStringList({"Qux", "Baz", "Bar"}) &&
                    stage.phoneApplications() == QStringList({"Bar", "Qux"});
         }},
    };
    return removals;
}

// Each removal, seen after the in-place update of the next opening and
// again after a rebuild of the device rows.
inline void expectRemovedRowsLeaveNothing(QPoint at)
{
    for (const RowRemoval &removal : rowRemovals()) {
        SCOPED_TRACE(removal.name);
        RowRemovalStage stage;
        ASSERT_EQ(stage.recentTitles(), QStringList({"Baz", "Bar", "Foo"}));
        stage.openAndLook(at);
        removal.change(stage);
        ASSERT_TRUE(waitUntil([&] { return removal.reached(stage); }))
            << stage.recentTitles().join(", ").toStdString();
        for (const char *when : {"after the update", "after a rebuild"}) {
            SCOPED_TRACE(when);
            if (std::string(when) == "after a rebuild")
                stage.rebuild();
            const auto found = stage.openAndLook(at);
            ASSERT_EQ(found.size(), 2u);
            EXPECT_EQ(found[0].join(", ").toStdString(), "") << "in the status menu";
            EXPECT_EQ(found[1].join(", ").toStdString(), "") << "in the phone's menu";
        }
    }
}

} // namespace corvane::test
