#include "app/DeviceActionFixture.h"
#include "app/ShellTestSupport.h"
#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/CommandManager.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/urls/OpenURLsMenu.h"
#include "app/menus/values/AppearanceBarMenu.h"
#include "app/menus/values/ContentSizeMenu.h"
#include "app/menus/values/StatusBarMenu.h"
#include "app/menus/values/TouchesMenu.h"
#include "app/menus/values/UnsplashMenu.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace corvane;
using namespace corvane::test;
using namespace corvane::fixture;
using Command = Toolset::Command;

namespace {

const QStringList kFixedItems{"Open URL / Trigger Scheme…",
                              "Open Recent",
                              "-",
                              "Appearance",
                              "Dynamic Type",
                              "Status Bar",
                              "Touch Indicators",
                              "-",
                              "Save Screenshot",
                              "Copy Screenshot",
                              "Capture Video",
                              "Stop Recording",
                              "-",
                              "Get Pasteboard from Device",
                              "Send Pasteboard to Device",
                              "Send Image/Video to Device…",
                              "Unsplash",
                              "-",
                              "Device Data",
                              "-",
                              "Erase Contents and Settings…",
                              "Erase Keychain…",
                              "Delete…",
                              "Shutdown",
                              "Launch"};

// Records which device each factory was asked for and answers with a menu,
// so that an attached submenu is visible.
struct FactoryLog {
    std::mutex mutex;
    QStringList calls;

    SubmenuFactories factories()
    {
        auto device = [this](const QString &kind) {
            return [this, kind](const DevicePtr &device, const std::shared_ptr<Toolset> &) {
                std::lock_guard lock(mutex);
                calls << kind + " " + device->title();
                return std::make_shared<Menu>(kind);
            };
        };
        SubmenuFactories f;
        f.applicationMenu = [this](const ApplicationPtr &application,
                                   const std::shared_ptr<Toolset> &, bool showsDevice) {
            std::lock_guard lock(mutex);
            calls << "application " + application->title() + (showsDevice ? " +device" : "");
            return std::make_shared<Menu>(application->title());
        };
        f.openURLsMenu = device("openURLs");
        f.appearanceBarMenu = device("appearance");
        f.contentSizeMenu = device("contentSize");
        f.statusBarMenu = device("statusBar");
        f.touchesMenu = device("touches");
        f.unsplashMenu = device("unsplash");
        return f;
    }
    bool called(const QString &call)
    {
        std::lock_guard lock(mutex);
        return calls.contains(call);
    }
};

class DeviceMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SystemPaths paths = tree.paths();
        paths.ps = dir.filePath("ps");
        paths.configDir = dir.filePath("config");
        SystemPaths::setCurrent(paths);
        defaults = UserDefaults::withFile(dir.filePath("defaults.conf"));
        UserDefaults::setStandard(defaults);
        workspace = std::make_shared<LockedWorkspace>();
        Workspace::setShared(workspace);
        alerts = std::make_shared<RecordingAlertPresenter>();
        AlertPresenter::setShared(alerts);
        panel = std::make_shared<RecordingOpenPanel>();
        OpenPanel::setShared(panel);
        setRunning({});
        monitor = ActivityMonitor::make();
        commands = CommandManager::make();

        tree.addRuntime("iOS", "17.2");
        tree.addRuntime("watchOS", "10.2");
        xcode = tree.addXcode();
        phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2"});
        watch = tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "watchOS 10.2"});
        lonelyWatch =
            tree.addDevice({.name = "Apple Watch Ultra 2 (49mm)", .runtime = "watchOS 10.2"});
        tree.addPair(watch, phone);
        tree.installApp(phone, {.identifier = "com.example.foo", .name = "Foo"});
        tree.installApp(phone, {.identifier = "com.example.bar", .name = "Bar"});
        listDevices();
    }

    void TearDown() override
    {
        // Actions run on worker threads: none may reach the next test's world.
        EXPECT_TRUE(test::waitForBackgroundWork());
        OpenPanel::setShared(nullptr);
        AlertPresenter::setShared(nullptr);
        Workspace::setShared(nullptr);
        UserDefaults::setStandard(nullptr);
        SystemPaths::resetToEnvironment();
    }

    void listDevices()
    {
        toolset = Toolset::make(QUrl::fromLocalFile(xcode));
        ASSERT_TRUE(toolset);
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
        toolset->setDeviceWatcher(watcher);
    }

    // A ps that lists a simulator for each of these devices, and a snapshot
    // of what it lists.
    void setRunning(const QStringList &udids)
    {
        listSimulators(dir, udids);
        if (monitor)
            offMain([&] { monitor->refreshProcesses(); });
    }

    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }

    // A device of its own runtime, listed from a line.
    DevicePtr listed(const QString &name, const QString &runtime)
    {
        const QString text = "== Devices ==\n-- " + runtime + " --\n    " + name + " (" +
                             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                             ") (Shutdown)\n";
        const auto map = DeviceWatcher::parseDeviceListText(text, toolset, {});
        return map.empty() ? nullptr : map.begin()->second;
    }

    DeviceMenu::Environment environment() { return {monitor, commands, factories.factories()}; }

    std::shared_ptr<DeviceMenu> makeMenu(const DevicePtr &device, bool apps = true,
                                         bool paired = true)
    {
        return offMain(
            [&] { return DeviceMenu::make(device, toolset, apps, paired, environment()); });
    }

    QStringList simctlCalls() const { return test::simctlCalls(tree); }

    QTemporaryDir dir;
    FixtureTree tree;
    QString xcode, phone, watch, lonelyWatch;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<LockedWorkspace> workspace;
    std::shared_ptr<RecordingAlertPresenter> alerts;
    std::shared_ptr<RecordingOpenPanel> panel;
    std::shared_ptr<ActivityMonitor> monitor;
    std::shared_ptr<CommandManager> commands;
    FactoryLog factories;
};

} // namespace

TEST_F(DeviceMenuTest, ItemsFollowTheApplicationsInTheirOrder)
{
    const auto menu = makeMenu(device(phone));
    EXPECT_EQ(menu->title(), "iPhone 15");
    EXPECT_EQ(itemTitles(menu->items()),
              QStringList({"Bar", "Foo", "Install App…", "-"}) + kFixedItems +
                  QStringList({"-", "Paired Devices", "Apple Watch Series 9 (45mm)"}));

    const auto row = std::dynamic_pointer_cast<ApplicationMenuItem>(menu->items()[0]);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->action(), "launch:");
    EXPECT_EQ(row->iconConfig(), (ApplicationMenuItem::IconConfig{{24, 24}, {0, 2, 0, 2}}));
    EXPECT_FALSE(row->showDeviceInTitle());
    EXPECT_EQ(*row->application(), *device(phone)->applicationTable().at("com.example.bar"));
    ASSERT_TRUE(row->submenu());
    EXPECT_EQ(row->target(), row->submenu());
    EXPECT_TRUE(factories.called("application Bar"));

    // Fixed items are kept: a second build places the same objects.
    EXPECT_EQ(menu->installItem(), menu->items()[2]);
    EXPECT_EQ(menu->launchItem()->target(), menu);
    EXPECT_EQ(menu->launchItem()->action(), "launch:");
    EXPECT_EQ(menu->deviceFolder()->image(), ImageRef::symbol("folder"));
    const auto again = menu->buildItems({}, {});
    EXPECT_EQ(itemTitles(again).first(2), QStringList({"Install App…", "-"}));
    EXPECT_EQ(again[2], menu->openURLItem());
    EXPECT_EQ(again[0], menu->installItem());
    for (const auto &item : menu->items())
        EXPECT_TRUE(item->keyEquivalent().isEmpty());

    // Without applications the list starts with the install item.
    const auto empty = makeMenu(device(lonelyWatch));
    EXPECT_EQ(itemTitles(empty->items()).first(2), QStringList({"Install App…", "-"}));
}

TEST_F(DeviceMenuTest, MenusOfApplicationMenusAndPairsHaveNoApplicationsOrPairedSubmenus)
{
    const auto menu = makeMenu(device(phone), false, false);
    EXPECT_EQ(itemTitles(menu->items()),
              kFixedItems + QStringList({"-", "Paired Devices", "Apple Watch Series 9 (45mm)"}));
    EXPECT_FALSE(menu->items().back()->submenu());
    EXPECT_FALSE(menu->items().back()->target());
    EXPECT_FALSE(factories.called("application Bar"));

    // A toolset gone before the menu is made leaves it empty.
    const auto device = this->device(phone);
    toolset.reset();
    watcher.reset();
    const auto orphan = DeviceMenu::make(device, nullptr, true, true, environment());
    EXPECT_TRUE(orphan->items().empty());
}

TEST_F(DeviceMenuTest, PairedDevicesAreLookedUpInTheDeviceList)
{
    const auto lonely = makeMenu(device(lonelyWatch));
    const auto items = lonely->items();
    ASSERT_GE(items.size(), 3u);
    EXPECT_EQ(itemTitles({items.end() - 3, items.end()}),
              QStringList({"-", "Paired Devices", "Independent"}));
    EXPECT_FALSE(lonely->pairedDevicesItem()->isEnabled());
    EXPECT_FALSE(lonely->independentItem()->isEnabled());

    const auto menu = makeMenu(device(phone));
    const auto row = menu->items().back();
    EXPECT_EQ(menu->items()[menu->items().size() - 4], menu->launchItem());
    EXPECT_EQ(row->action(), "launch:");
    EXPECT_EQ(row->image(), ImageRef::symbol("applewatch"));
    EXPECT_EQ(row->representedObject().as<Device>(), device(watch));
    const auto submenu = std::dynamic_pointer_cast<DeviceMenu>(row->submenu());
    ASSERT_TRUE(submenu);
    EXPECT_EQ(row->target(), submenu);
    EXPECT_EQ(submenu->device(), device(watch));
    EXPECT_FALSE(submenu->shouldShowApplicationSubmenus());
    EXPECT_FALSE(submenu->shouldShowPairedDevicesSubmenus());
    // The watch's own menu names its phone, without a further submenu.
    EXPECT_EQ(submenu->items().back()->title(), "iPhone 15");
    EXPECT_FALSE(submenu->items().back()->submenu());
    EXPECT_EQ(submenu->items().back()->image(), ImageRef::symbol("iphone"));

    // A pair whose device is not listed is skipped.
    const auto phoneDevice = device(phone);
    phoneDevice->setPairedTo({QUuid::createUuid(), device(watch)->uuid()});
    const QStringList skipped = itemTitles(makeMenu(phoneDevice)->items());
    EXPECT_EQ(skipped.mid(skipped.indexOf("Paired Devices")),
              QStringList({"Paired Devices", "Apple Watch Series 9 (45mm)"}));
    phoneDevice->setPairedTo({QUuid::createUuid()});
    EXPECT_EQ(itemTitles(makeMenu(phoneDevice)->items()).last(), "Independent");
}

TEST_F(DeviceMenuTest, PairsOfARealListingGiveTheirRows)
{
    Fault listing;
    listing.stdoutFile = realWorldPath("simctl-list-text/openbakery__simctl-list-xcode8.txt");
    tree.setFault("list", listing);
    listDevices();
    ASSERT_EQ(watcher->all()->size(), 19u);

    const auto pairedRow = [&](const QString &udid) {
        const auto items = makeMenu(device(udid))->items();
        const QStringList all = itemTitles(items);
        const auto at = all.indexOf("Paired Devices");
        return at < 0 ? QStringList() : all.mid(at + 1);
    };
    // Four active pairs; the unavailable ones name devices that are not listed.
    EXPECT_EQ(pairedRow("66B12BE1-4C33-40E7-9FC1-3DBEC9E70DD4"), QStringList{"Apple Watch - 38mm"});
    EXPECT_EQ(pairedRow("C5B3EB2E-6851-422B-B70A-156A42906914"), QStringList{"iPhone 6s"});
    EXPECT_EQ(pairedRow("DBF5AF1F-E41B-42A1-8559-E89FC0B5EE66"), QStringList{"Apple Watch - 42mm"});
    EXPECT_EQ(pairedRow("53FB4629-38B9-43F3-ABAA-D0E091FCA7BB"),
              QStringList{"Apple Watch Series 2 - 38mm"});
    EXPECT_EQ(pairedRow("1B738A8C-0C64-466F-8CBF-6B08681D4FD6"), QStringList{"iPhone 7 Plus"});
    EXPECT_EQ(pairedRow("C81DE278-C5C2-452F-88B8-A28324DAE3C0"), QStringList());
}

TEST_F(DeviceMenuTest, SubmenusAreAskedForOnlyWhereTheRuntimeHasThem)
{
    struct Case {
        QString runtime;
        bool openURLs, appearance, statusBar;
    };
    const Case cases[] = {
        {"tvOS 15.0", true, true, false},      {"tvOS 14.5", false, true, false},
        {"watchOS 10.2", false, false, false}, {"iOS 12.4", true, false, true},
        {"iOS 13.0.1", true, true, true},      {"iOS 9.3", true, false, true},
    };
    for (const Case &c : cases) {
        const QString name = "Device on " + c.runtime;
        const auto device = listed(name, c.runtime);
        ASSERT_TRUE(device) << c.runtime.toStdString();
        const auto menu = makeMenu(device);
        SCOPED_TRACE(c.runtime.toStdString());
        EXPECT_EQ(factories.called("openURLs " + name), c.openURLs);
        EXPECT_EQ(factories.called("appearance " + name), c.appearance);
        EXPECT_EQ(factories.called("contentSize " + name), c.appearance);
        EXPECT_EQ(factories.called("statusBar " + name), c.statusBar);
        EXPECT_EQ(factories.called("unsplash " + name), c.statusBar);
        EXPECT_TRUE(factories.called("touches " + name));
        EXPECT_EQ(menu->openRecentURLItem()->hasSubmenu(), c.openURLs);
        EXPECT_EQ(menu->appearanceItem()->hasSubmenu(), c.appearance);
        EXPECT_TRUE(menu->openRecentURLItem()->action().isEmpty());
    }
    EXPECT_TRUE(DeviceMenu::isVersionAtLeast("13.0.1", "13.0"));
    EXPECT_TRUE(DeviceMenu::isVersionAtLeast("13.0", "13.0"));
    EXPECT_FALSE(DeviceMenu::isVersionAtLeast("9.3", "13.0"));
    EXPECT_TRUE(DeviceMenu::isVersionAtLeast("15.10", "15.9"));

    // Every row of the program's own factories gets its menu: the recent
    // URLs, the value, status-bar, touches and Unsplash rows, the applications.
    const auto plain = offMain([&] {
        return DeviceMenu::make(device(phone), toolset, true, false, {monitor, commands, {}});
    });
    const QStringList withMenus{"Appearance", "Dynamic Type", "Status Bar", "Touch Indicators",
                                "Unsplash"};
    EXPECT_TRUE(std::dynamic_pointer_cast<OpenURLsMenu>(plain->openRecentURLItem()->submenu()));
    for (const auto &item : plain->items())
        if (!item->representedObject().is<Device>() && item != plain->openRecentURLItem())
            EXPECT_EQ(item->hasSubmenu(), withMenus.contains(item->title()) ||
                                              item->representedObject().is<Application>())
                << item->title().toStdString();
    EXPECT_TRUE(std::dynamic_pointer_cast<ContentSizeMenu>(plain->contentSizeItem()->submenu()));
    EXPECT_TRUE(std::dynamic_pointer_cast<AppearanceBarMenu>(plain->appearanceItem()->submenu()));
    EXPECT_TRUE(std::dynamic_pointer_cast<StatusBarMenu>(plain->statusBarItem()->submenu()));
    EXPECT_TRUE(std::dynamic_pointer_cast<TouchesMenu>(plain->touchesItem()->submenu()));
    EXPECT_TRUE(std::dynamic_pointer_cast<UnsplashMenu>(plain->unsplashItem()->submenu()));
    // The shared preset store was read from this test's tree.
    StatusBarPresetRepository::resetShared();
}

TEST_F(DeviceMenuTest, AnApplicationListChangeKeepsTheRowsOfSurvivingApplications)
{
    const auto device = this->device(phone);
    auto menu = makeMenu(device);
    const auto before = menu->items();
    ASSERT_EQ(itemTitles(before).first(2), QStringList({"Bar", "Foo"}));
    const auto foo = before[1];
    const auto applicationRows = [&] {
        QStringList result;
        for (const auto &item : menu->items())
            if (item->representedObject().is<Application>())
                result << item->title();
        return result;
    };

    // Bar goes, Baz comes.
    const QString barBundle = device->applicationTable().at("com.example.bar")->url().toLocalFile();
    ASSERT_TRUE(QDir(QFileInfo(barBundle).path()).removeRecursively());
    tree.installApp(phone, {.identifier = "com.example.baz", .name = "Baz"});
    // Another device's change leaves this menu alone.
    menu->applicationListDidChange(this->device(watch));
    DispatchQueue::drainMain();
    DispatchQueue::drainMain();
    EXPECT_EQ(menu->items(), before);

    // The notification's turn, then the build's, then the new array's.
    offMain([&] { device->reloadApplications(); });
    ASSERT_EQ(device->applications().size(), 2u);
    EXPECT_EQ(menu->items(), before);
    DispatchQueue::drainMain();
    EXPECT_EQ(menu->items(), before);
    DispatchQueue::drainMain();
    EXPECT_EQ(menu->items(), before);
    DispatchQueue::drainMain();
    EXPECT_EQ(applicationRows(), QStringList({"Baz", "Foo"}));
    EXPECT_EQ(menu->items()[1], foo);
    EXPECT_EQ(menu->items()[2], menu->installItem());
    EXPECT_TRUE(factories.called("application Baz"));

    // A menu dropped before its rebuild runs does nothing.
    std::weak_ptr<DeviceMenu> weak = menu;
    menu->applicationListDidChange(device);
    menu.reset();
    DispatchQueue::drainMain();
    DispatchQueue::drainMain();
    EXPECT_TRUE(weak.expired());
}

TEST_F(DeviceMenuTest, AnApplicationInstalledWhileTheMenuIsBuiltAppears)
{
    const auto device = this->device(phone);
    // The construction's first application row waits, after the list was
    // read and before the items are set.
    DispatchSemaphore constructionRead, releaseConstruction;
    struct Release {
        DispatchSemaphore &gate;
        ~Release() { gate.signal(); }
    } release{releaseConstruction};
    std::atomic<bool> holding{true};
    auto env = environment();
    env.submenus.applicationMenu = [&, make = env.submenus.applicationMenu](
                                       const ApplicationPtr &application,
                                       const std::shared_ptr<Toolset> &xcode, bool showsDevice) {
        if (!DispatchQueue::isMainThread() && holding.exchange(false)) {
            constructionRead.signal();
            releaseConstruction.wait();
        }
        return make(application, xcode, showsDevice);
    };
    std::shared_ptr<DeviceMenu> menu;
    std::atomic<bool> built{false};
    DispatchQueue::userInitiated()->async([&] {
        menu = DeviceMenu::make(device, toolset, true, true, env);
        built = true;
    });
    constructionRead.wait();

    tree.installApp(phone, {.identifier = "com.example.baz", .name = "Baz"});
    offMain([&] { device->reloadApplications(); });
    // The rebuild on the main queue makes Baz's row, then sets the array a
    // turn later; a marker behind that turn shows it set.
    ASSERT_TRUE(waitUntil([&] { return factories.called("application Baz"); }));
    std::atomic<bool> marker{false};
    DispatchQueue::main()->async([&] { marker = true; });
    ASSERT_TRUE(waitUntil([&] { return marker.load(); }));

    releaseConstruction.signal();
    ASSERT_TRUE(waitUntil([&] { return built.load(); }));
    QStringList rows;
    for (const auto &item : menu->items())
        if (item->representedObject().is<Application>())
            rows << item->title();
    EXPECT_EQ(rows, QStringList({"Bar", "Baz", "Foo"}));
}

namespace {

struct Expect {
    bool enabled;
    bool hidden;
};

const std::vector<Command> kEveryCommand = Toolset::allCommands();

} // namespace

TEST_F(DeviceMenuTest, RulesDecideWhatIsShownAndEnabled)
{
    const auto ios = makeMenu(device(phone));
    using Getter = MenuItemPtr (DeviceMenu::*)();
    struct Row {
        const char *name;
        Getter item;
    };
    const Row rows[] = {
        {"install", &DeviceMenu::installItem},
        {"stopRecording", &DeviceMenu::stopRecordingItem},
        {"recordVideo", &DeviceMenu::recordVideoItem},
        {"openURL", &DeviceMenu::openURLItem},
        {"openRecentURL", &DeviceMenu::openRecentURLItem},
        {"appearance", &DeviceMenu::appearanceItem},
        {"contentSize", &DeviceMenu::contentSizeItem},
        {"touches", &DeviceMenu::touchesItem},
        {"statusBar", &DeviceMenu::statusBarItem},
        {"copy", &DeviceMenu::copyItem},
        {"paste", &DeviceMenu::pasteItem},
        {"addMedia", &DeviceMenu::addMediaItem},
        {"unsplash", &DeviceMenu::unsplashItem},
        {"screenshot", &DeviceMenu::screenshotItem},
        {"copyScreenshot", &DeviceMenu::copyScreenshotItem},
        {"erase", &DeviceMenu::eraseItem},
        {"eraseKeychain", &DeviceMenu::eraseKeychainItem},
        {"shutdown", &DeviceMenu::shutdownItem},
        {"launch", &DeviceMenu::launchItem},
        {"delete", &DeviceMenu::deleteItem},
        {"deviceFolder", &DeviceMenu::deviceFolder},
    };
    const auto check = [&](DeviceMenu &menu, const DeviceMenu::Facts &facts,
                           const std::map<QString, Expect> &expected, const char *label) {
        menu.applyRules(facts);
        for (const Row &row : rows) {
            const auto item = (menu.*row.item)();
            const auto found = expected.find(row.name);
            const Expect e = found == expected.end() ? Expect{true, false} : found->second;
            EXPECT_EQ(item->isEnabled(), e.enabled) << label << ": " << row.name << " enabled";
            EXPECT_EQ(item->isHidden(), e.hidden) << label << ": " << row.name << " hidden";
        }
    };
    const auto facts = [&](const Runtime &runtime, bool running, bool recording = false,
                           std::vector<Command> commands = kEveryCommand) {
        DeviceMenu::Facts f;
        f.running = running;
        f.recording = recording;
        f.runtime = runtime;
        f.supportedCommands = std::move(commands);
        return f;
    };
    const Runtime iOS17(Runtime::System::iOS, "17.2");
    const Expect off{false, false}, hidden{true, true}, offHidden{false, true};

    check(*ios, facts(iOS17, false),
          {{"install", off},
           {"stopRecording", offHidden},
           {"recordVideo", off},
           {"openURL", off},
           {"openRecentURL", off},
           {"appearance", off},
           {"contentSize", off},
           {"touches", off},
           {"statusBar", off},
           {"copy", off},
           {"paste", off},
           {"addMedia", off},
           {"unsplash", off},
           {"screenshot", off},
           {"copyScreenshot", off},
           {"eraseKeychain", off},
           {"shutdown", hidden}},
          "shut down");
    check(*ios, facts(iOS17, true), {{"stopRecording", hidden}, {"launch", hidden}}, "booted");
    check(*ios, facts(iOS17, true, true), {{"recordVideo", hidden}, {"launch", hidden}},
          "recording");
    check(*ios, facts(iOS17, true, false, {Command::boot, Command::erase}),
          {{"install", off},
           {"stopRecording", offHidden},
           {"recordVideo", off},
           {"openURL", off},
           {"openRecentURL", off},
           {"appearance", hidden},
           {"contentSize", hidden},
           {"touches", hidden},
           {"statusBar", hidden},
           {"copy", off},
           {"paste", off},
           {"addMedia", off},
           {"unsplash", off},
           {"screenshot", off},
           {"copyScreenshot", off},
           {"eraseKeychain", off},
           {"shutdown", off},
           {"launch", hidden}},
          "few commands");
    EXPECT_TRUE(ios->appearanceDivide()->isHidden());

    const auto watchMenu = makeMenu(device(watch));
    const std::map<QString, Expect> watchOS{{"stopRecording", hidden}, {"openURL", hidden},
                                            {"openRecentURL", hidden}, {"touches", hidden},
                                            {"statusBar", hidden},     {"addMedia", hidden},
                                            {"unsplash", hidden},      {"launch", hidden}};
    check(*watchMenu, facts(Runtime(Runtime::System::watchOS, "26.0"), true), watchOS, "watchOS");
    EXPECT_FALSE(watchMenu->appearanceDivide()->isHidden());
    // Below 13.0 the four middle items hide, and the separator after them.
    auto old = watchOS;
    old["appearance"] = hidden;
    old["contentSize"] = hidden;
    check(*watchMenu, facts(Runtime(Runtime::System::watchOS, "10.2"), true), old, "watchOS 10");
    EXPECT_TRUE(watchMenu->appearanceDivide()->isHidden());
    std::vector<Command> noAppearance = kEveryCommand;
    std::erase(noAppearance, Command::appearance);
    check(*watchMenu, facts(Runtime(Runtime::System::watchOS, "26.0"), true, false, noAppearance),
          old, "watchOS without appearance");
    EXPECT_TRUE(watchMenu->appearanceDivide()->isHidden());

    const auto tvMenu = makeMenu(listed("Apple TV", "tvOS 14.5"));
    for (const auto &[version, urls] : {std::pair{"14.5", false}, std::pair{"15.0", true}}) {
        tvMenu->applyRules(facts(Runtime(Runtime::System::tvOS, version), true));
        EXPECT_EQ(tvMenu->openURLItem()->isHidden(), !urls) << version;
        EXPECT_EQ(tvMenu->openRecentURLItem()->isHidden(), !urls) << version;
        EXPECT_TRUE(tvMenu->statusBarItem()->isHidden());
    }

    // Application rows follow their device's running state.
    auto withApps = facts(iOS17, false);
    ios->applyRules(withApps);
    EXPECT_FALSE(ios->items()[0]->isEnabled());
    withApps.running = true;
    ios->applyRules(withApps);
    EXPECT_TRUE(ios->items()[0]->isEnabled());
    EXPECT_FALSE(ios->items()[0]->isHidden());

    // Without a toolset every item is disabled.
    DeviceMenu::Facts gone = facts(iOS17, true);
    gone.hasToolset = false;
    ios->applyRules(gone);
    for (const auto &item : ios->items())
        EXPECT_FALSE(item->isEnabled()) << item->title().toStdString();
}

TEST_F(DeviceMenuTest, RulesLandOneMainTurnAfterAnUpdate)
{
    const auto menu = makeMenu(device(phone));
    setRunning({phone});
    EXPECT_FALSE(menu->launchItem()->isHidden());
    menu->update();
    EXPECT_FALSE(menu->launchItem()->isHidden());
    EXPECT_FALSE(menu->shutdownItem()->isHidden());
    DispatchQueue::drainMain();
    EXPECT_TRUE(menu->launchItem()->isHidden());
    EXPECT_FALSE(menu->shutdownItem()->isHidden());
    EXPECT_TRUE(menu->items()[0]->isEnabled());
    EXPECT_TRUE(menu->recordVideoItem()->isEnabled());

    setRunning({});
    menu->update();
    DispatchQueue::drainMain();
    EXPECT_FALSE(menu->launchItem()->isHidden());
    EXPECT_TRUE(menu->shutdownItem()->isHidden());
    EXPECT_FALSE(menu->items()[0]->isEnabled());
}

TEST_F(DeviceMenuTest, ConfirmationsAskUntilToldNotTo)
{
    const auto menu = makeMenu(device(lonelyWatch));

    // Cancelled with "Do not ask again" ticked: nothing stored, nothing run.
    alerts->enqueue({1, true, {}});
    menu->eraseItem()->sendAction();
    ASSERT_EQ(alerts->presented.size(), 1u);
    const AlertSpec &spec = alerts->presented[0];
    EXPECT_EQ(spec.messageText, "Are you sure you want to erase content and settings?");
    EXPECT_EQ(spec.informativeText, "The device will be erased to its initial state.");
    EXPECT_EQ(spec.style, AlertSpec::Style::Warning);
    EXPECT_TRUE(spec.cautionIcon);
    EXPECT_TRUE(spec.showsSuppressionButton);
    ASSERT_EQ(spec.buttons.size(), 2u);
    EXPECT_EQ(spec.buttons[0].title, "Erase");
    EXPECT_EQ(spec.buttons[0].keyEquivalent, AlertSpec::KeyEquivalent::None);
    EXPECT_EQ(spec.buttons[1].title, "Don't Erase");
    EXPECT_EQ(spec.buttons[1].keyEquivalent, AlertSpec::KeyEquivalent::Return);
    EXPECT_FALSE(defaults->hasStoredValue("ErasePrompt"));

    // Confirmed without the tick: runs, stores nothing.
    alerts->enqueue({0, false, {}});
    menu->eraseItem()->sendAction();
    EXPECT_FALSE(defaults->hasStoredValue("ErasePrompt"));
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 1; }));

    // Confirmed with the tick: stored; the next time nothing is asked.
    alerts->enqueue({0, true, {}});
    menu->eraseItem()->sendAction();
    EXPECT_TRUE(defaults->boolean("ErasePrompt"));
    menu->eraseItem()->sendAction();
    EXPECT_EQ(alerts->presented.size(), 3u);
    EXPECT_TRUE(waitUntil([&] { return simctlCalls().size() == 3; }));
    EXPECT_EQ(simctlCalls(), QStringList(3, "erase " + lonelyWatch));

    alerts->enqueue({1, false, {}});
    menu->deleteItem()->sendAction();
    EXPECT_EQ(alerts->presented.back().messageText,
              "Are you sure you want to delete this simulator?");
    EXPECT_EQ(alerts->presented.back().buttons[0].title, "Delete");
    EXPECT_EQ(alerts->presented.back().buttons[1].title, "Don't Delete");
    EXPECT_EQ(alerts->presented.back().buttons[1].keyEquivalent, AlertSpec::KeyEquivalent::Return);
    alerts->enqueue({-1, true, {}});
    menu->eraseKeychainItem()->sendAction();
    EXPECT_EQ(alerts->presented.back().messageText, "Are you sure you want to erase the keychain?");
    EXPECT_EQ(alerts->presented.back().informativeText, "All keychain values will be deleted.");
    EXPECT_FALSE(defaults->hasStoredValue("EraseKeychainPrompt"));
    EXPECT_FALSE(defaults->hasStoredValue("DeleteSimPrompt"));
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(simctlCalls().size(), 3u);
}

TEST_F(DeviceMenuTest, ErasingARunningDeviceShutsItDownErasesAndBootsIt)
{
    defaults->set("ErasePrompt", true);
    defaults->set("EraseKeychainPrompt", true);
    tree.boot(phone);
    setRunning({phone});
    const auto menu = makeMenu(device(phone));
    menu->eraseItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 3; }));
    EXPECT_EQ(simctlCalls(), QStringList({"shutdown " + phone, "erase " + phone, "boot " + phone}));
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 1; }));
    auto recorded = commands->recentCommands().back();
    EXPECT_EQ(recorded.title, "Erase Contents and Settings…");
    EXPECT_EQ(recorded.selector, "erase");
    EXPECT_EQ(recorded.loadTarget(), device(phone));

    // Quick Repeat erases only.
    tree.clearLog();
    offMain([&] { recorded.perform(); });
    EXPECT_EQ(simctlCalls(), QStringList{"erase " + phone});

    // A device that is not running is only erased.
    tree.clearLog();
    setRunning({});
    menu->erase(nullptr);
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 2; }));
    EXPECT_EQ(simctlCalls(), QStringList{"erase " + phone});
    EXPECT_EQ(commands->recentCommands().back().title, "Unknown");

    tree.clearLog();
    menu->eraseKeychainItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 3; }));
    EXPECT_EQ(simctlCalls(), QStringList{"keychain " + phone + " reset"});
    EXPECT_EQ(commands->recentCommands().back().selector, "resetKeychain");
}

TEST_F(DeviceMenuTest, LifecycleActionsRecordNothing)
{
    defaults->set("DeleteSimPrompt", true);
    const auto phoneMenu = makeMenu(device(phone));
    const auto watchMenu = makeMenu(device(lonelyWatch));

    // Not running: install and media show no panel, shutdown does nothing;
    // launch boots, opening Simulator first since it is not running.
    phoneMenu->installItem()->sendAction();
    phoneMenu->addMediaItem()->sendAction();
    phoneMenu->shutdownItem()->sendAction();
    EXPECT_TRUE(panel->presented.empty());
    phoneMenu->launchItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 1; }));
    EXPECT_EQ(simctlCalls(), QStringList{"boot " + phone});
    const QString simulator = xcode + "/Contents/Developer/Applications/Simulator.app";
    EXPECT_EQ(workspace->made("openApplication"), QStringList{QDir::cleanPath(simulator)});

    // Running: launch does nothing, the panels come, the files go.
    setRunning({phone});
    tree.clearLog();
    phoneMenu->launchItem()->sendAction();
    const QString bundle =
        tree.makeAppBundle(dir.path(), {.identifier = "com.example.new", .name = "New"});
    panel->enqueue({bundle});
    phoneMenu->installItem()->sendAction();
    panel->enqueue({dir.filePath("photo.jpg")});
    phoneMenu->addMediaItem()->sendAction();
    phoneMenu->addMediaItem()->sendAction(); // cancelled
    ASSERT_EQ(panel->presented.size(), 3u);
    EXPECT_EQ(panel->presented[0].title, "Select Application");
    EXPECT_EQ(panel->presented[0].prompt, "Select Application");
    EXPECT_EQ(panel->presented[0].allowedTypes, QStringList{"app"});
    EXPECT_FALSE(panel->presented[0].canChooseDirectories);
    EXPECT_FALSE(panel->presented[0].allowsMultipleSelection);
    EXPECT_EQ(panel->presented[0].identifier, "SelectApplication");
    EXPECT_EQ(panel->presented[1].title, "Select Media");
    EXPECT_EQ(panel->presented[1].identifier, "SelectMedia");
    EXPECT_EQ(panel->presented[1].allowedTypes, QStringList({"public.movie", "public.image"}));
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 2; }));
    QStringList calls = simctlCalls();
    calls.sort();
    EXPECT_EQ(calls, QStringList({"addmedia " + phone + " " + dir.filePath("photo.jpg"),
                                  "install " + phone + " " + bundle}));

    tree.clearLog();
    phoneMenu->shutdownItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 1; }));
    EXPECT_EQ(simctlCalls(), QStringList{"shutdown " + phone});

    tree.clearLog();
    watchMenu->deleteItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().contains("delete " + lonelyWatch); }));
    EXPECT_EQ(simctlCalls(), QStringList({"shutdown " + lonelyWatch, "delete " + lonelyWatch}));

    watchMenu->deviceFolder()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return !workspace->made("showFolder").isEmpty(); }));
    EXPECT_EQ(workspace->made("showFolder"),
              QStringList{tree.devicesDir() + "/" + lonelyWatch + "/data"});
    EXPECT_EQ(workspace->made("openApplication").size(), 1);
    EXPECT_TRUE(alerts->presented.empty());
    EXPECT_TRUE(commands->recentCommands().empty());
}

TEST_F(DeviceMenuTest, BootingLeavesARunningSimulatorAlone)
{
    tree.startSimulatorApp(xcode);
    ASSERT_TRUE(waitUntil([&] { return toolset->simulatorApplication().has_value(); }));
    const auto menu = makeMenu(device(phone));
    menu->autoAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 1; }));
    EXPECT_EQ(simctlCalls(), QStringList{"boot " + phone});
    ASSERT_TRUE(waitUntil([&] { return workspace->made("activateSimulator").size() == 1; }));
    EXPECT_TRUE(workspace->made("openApplication").isEmpty());

    // auto: on a running device only brings it to the front.
    setRunning({phone});
    tree.clearLog();
    menu->autoAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return workspace->made("activateSimulator").size() == 2; }));
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(simctlCalls().isEmpty());
    tree.stopProcesses();
}
