#include "app/ShellTestSupport.h"
#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/CommandManager.h"
#include "app/menus/DeviceTitle.h"
#include "app/menus/SubmenuFactories.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/root/RecordingDevices.h"
#include "app/menus/root/RootMenu.h"
#include "app/menus/root/RowRemovals.h"
#include "app/qt/MenuRenderer.h"
#include "app/shell/AppDelegate.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/MenuObserver.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/WindowController.h"
#include "shortcuts/Shortcut.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

using namespace corvane;
using namespace corvane::test;
using namespace corvane::fixture;
using namespace std::chrono_literals;

namespace {

const QString kPhone = "11111111-0000-4000-8000-000000000001";
const QString kPhone2 = "11111111-0000-4000-8000-000000000002";
const QString kPhone3 = "11111111-0000-4000-8000-000000000003";
const QString kWatch = "22222222-0000-4000-8000-000000000001";

QString line(const QString &name, const QString &udid, const QString &state = "Shutdown")
{
    return "    " + name + " (" + udid + ") (" + state + ")\n";
}

const QStringList kTopItems{"Stop Recording",
                            "-",
                            "Quick Repeat",
                            "No Recent Command",
                            "-",
                            "Most Recent Builds",
                            "None",
                            "??",
                            "??",
                            "??"};
const QStringList kBottomItems{"-",
                               "Not Seeing Any Devices?",
                               "Hold ⌥ to show all…",
                               "Help: No Simulators Found",
                               "Select an Xcode…",
                               "-",
                               "GPS Simulator…",
                               "Import/Export Activity",
                               "-",
                               "Reset SwiftUI Previews",
                               "Trash Derived Data",
                               "-",
                               "About Corvane",
                               "Settings…",
                               "Help",
                               "Export Debug Logs…",
                               "Quit"};

class FakeRecordings : public RecordingDevices {
public:
    bool isDevice(const ObjectPtr &object) const override
    {
        return std::dynamic_pointer_cast<Device>(object) != nullptr;
    }
    bool isRecording(const ObjectPtr &object) const override
    {
        auto device = std::dynamic_pointer_cast<Device>(object);
        std::lock_guard lock(mutex);
        return device && recording.count(device->udid());
    }
    std::vector<ObjectPtr> listedDevices() const override
    {
        std::lock_guard lock(mutex);
        return listed;
    }
    void interruptRecording(const ObjectPtr &object) override
    {
        std::lock_guard lock(mutex);
        interrupted << std::dynamic_pointer_cast<Device>(object)->udid();
    }
    mutable std::mutex mutex;
    std::set<QString> recording;
    std::vector<ObjectPtr> listed;
    QStringList interrupted;
};

class FakeWindow : public WindowController {
public:
    void showWindow() override { ++shown; }
    bool hasWindow() const override { return false; }
    void setStaysOnTop(bool) override {}
    void raise() override {}
    void focusContent() override {}
    int shown = 0;
};

class RootMenuTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        xcode = tree.addXcode();
        toolset = Toolset::make(QUrl::fromLocalFile(xcode));
        ASSERT_TRUE(toolset);
        SystemPaths paths = SystemPaths::current();
        paths.ps = path("ps");
        SystemPaths::setCurrent(paths);
        setRunning({});
        modifiers = std::make_shared<FakeModifiers>();
        monitor = ActivityMonitor::make();
        commands = CommandManager::make();
        recordings = std::make_shared<FakeRecordings>();
        gpsWindow = std::make_shared<FakeWindow>();
        alerts = std::make_shared<RecordingAlertPresenter>();
        AlertPresenter::setShared(alerts);
    }
    void TearDown() override
    {
        // Listings that opening or construction started end in this test.
        DispatchQueue::waitUntilIdle(10s);
        AlertPresenter::setShared(nullptr);
        ShellTest::TearDown();
    }

    // A ps that lists a simulator for each of these devices.
    void writeProcessList(const QStringList &udids)
    {
        writeFile(path("list"), simulatorProcessLines(udids).toUtf8());
        writeScript(path("ps"), "cat '" + path("list") + "'");
    }
    // The same, and a snapshot of what it lists.
    void setRunning(const QStringList &udids)
    {
        writeProcessList(udids);
        if (monitor)
            offMain([&] { monitor->refreshProcesses(); });
    }

    std::vector<DevicePtr> parse(const QString &text)
    {
        const auto map = DeviceWatcher::parseDeviceListText(text, toolset, {});
        std::vector<DevicePtr> result;
        for (const auto &[uuid, device] : map)
            result.push_back(device);
        Device::sort(result);
        return result;
    }

    void setDevices(std::vector<DevicePtr> list)
    {
        std::lock_guard lock(devicesMutex);
        devices = std::move(list);
    }

    RootMenu::Environment environment()
    {
        RootMenu::Environment env;
        env.modifiers = modifiers;
        env.activityMonitor = monitor;
        env.commandManager = commands;
        env.recordingDevices = recordings;
        env.gpsWindow = gpsWindow;
        env.installedRuntimes = [this] { return runtimes; };
        env.devices = [this](const std::shared_ptr<Toolset> &) {
            std::lock_guard lock(devicesMutex);
            ++deviceReads;
            return devices;
        };
        return env;
    }

    // Made off the main thread, as the program does.
    std::shared_ptr<RootMenu> makeMenu(bool withToolset = true)
    {
        return make(withToolset ? toolset : nullptr, environment());
    }
    std::shared_ptr<RootMenu> make(const std::shared_ptr<Toolset> &xcode,
                                   const RootMenu::Environment &env)
    {
        return offMain([&] { return RootMenu::make("Corvane", xcode, env); });
    }

    MenuItemPtr row(const RootMenu &menu, const QString &udid) const
    {
        for (const auto &item : menu.deviceItems())
            if (item->representedObject().as<Device>()->udid() == udid)
                return item;
        return nullptr;
    }

    std::vector<MenuItemPtr> headers(const RootMenu &menu) const
    {
        std::vector<MenuItemPtr> result;
        for (const auto &item : menu.items())
            if (!item->isSeparator() && item->representedObject().is<Runtime>())
                result.push_back(item);
        return result;
    }

    // Each call holds the queue until release() runs.
    void holdQueue(RootMenu &menu)
    {
        menu.queue()->async([this] { gate.wait(); });
    }

    FixtureTree tree;
    QString xcode;
    std::shared_ptr<Toolset> toolset;
    std::shared_ptr<FakeModifiers> modifiers;
    std::shared_ptr<ActivityMonitor> monitor;
    std::shared_ptr<CommandManager> commands;
    std::shared_ptr<FakeRecordings> recordings;
    std::shared_ptr<FakeWindow> gpsWindow;
    std::shared_ptr<RecordingAlertPresenter> alerts;
    std::vector<Runtime> runtimes;
    std::mutex devicesMutex;
    std::vector<DevicePtr> devices;
    std::atomic<int> deviceReads{0};
    DispatchSemaphore gate;
};

const QString kExample = "== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15", kPhone) +
                         "-- watchOS 10.2 --\n" + line("Apple Watch Series 9 (45mm)", kWatch);

} // namespace

TEST_F(RootMenuTest, WithoutToolsetOrDevicesOnlyTheFixedItems)
{
    for (bool withToolset : {false, true}) {
        auto menu = makeMenu(withToolset);
        EXPECT_EQ(itemTitles(menu->items()), kTopItems + kBottomItems);
        menu->update();
        const QStringList hints{"Not Seeing Any Devices?",
                                withToolset ? "Hold ⌥ to show all…" : "Select an Xcode…"};
        for (const QString &title : {"Not Seeing Any Devices?", "Hold ⌥ to show all…",
                                     "Help: No Simulators Found", "Select an Xcode…"})
            EXPECT_EQ(itemTitles(menu->items(), true).contains(title), hints.contains(title))
                << title.toStdString() << " with toolset " << withToolset;
        EXPECT_FALSE(menu->noRecentItem()->isHidden());
        EXPECT_TRUE(menu->recentItems()[0]->isHidden());
        EXPECT_TRUE(menu->stopRecordingItem()->isHidden());
        EXPECT_TRUE(menu->stopRecordingBuffer()->isHidden());
        EXPECT_TRUE(menu->diagnosticsItem()->isHidden());
        EXPECT_FALSE(menu->redoItem()->isEnabled());
        EXPECT_EQ(menu->gpsItem()->isEnabled(), withToolset);
        EXPECT_TRUE(menu->deleteDDItem()->isEnabled());
        EXPECT_EQ(menu->trashPreviewsItem()->target(), menu);
        EXPECT_EQ(menu->recentItems()[0]->action(), "auto:");
        EXPECT_EQ(menu->recentItems()[0]->target(), nullptr);
        EXPECT_EQ(menu->recentItems()[0]->iconConfig().size, QSizeF(30, 30));
        EXPECT_TRUE(menu->recentItems()[0]->showDeviceInTitle());
    }
}

TEST_F(RootMenuTest, DevicesStandUnderTheirRuntimeHeaders)
{
    setDevices(parse(kExample));
    auto menu = makeMenu();
    const QStringList rows{"-", "iOS 17.2", "iPhone 15", "-", "watchOS 10.2", "Series 9 (45mm)"};
    EXPECT_EQ(itemTitles(menu->items()), kTopItems + rows + kBottomItems);
    const auto phone = row(*menu, kPhone);
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->action(), "auto:");
    // The device's own menu hangs under the row and answers its action.
    ASSERT_TRUE(std::dynamic_pointer_cast<DeviceMenu>(phone->submenu()));
    EXPECT_EQ(phone->target(), phone->submenu());
    EXPECT_EQ(phone->indentationLevel(), 1);
    EXPECT_EQ(phone->image(), ImageRef::file(phone->representedObject().as<Device>()->image()));
    EXPECT_EQ(phone->onStateImage(), ImageRef::resource("On").tinted(ImageRef::TintColor::Accent));
    EXPECT_EQ(phone->offStateImage(), ImageRef::resource("Off"));

    const auto items = menu->items();
    const auto header = std::find(items.begin(), items.end(), headers(*menu)[0]);
    ASSERT_NE(header, items.begin());
    EXPECT_TRUE((*(header - 1))->isSeparator());
    EXPECT_EQ((*(header - 1))->representedObject().as<Runtime>(),
              Runtime(Runtime::System::iOS, "17.2"));
    EXPECT_FALSE((*header)->isEnabled());
    EXPECT_EQ((*header)->indentationLevel(), 0);

    // Without its toolset the menu lists no device.
    toolset.reset();
    EXPECT_EQ(itemTitles(menu->buildItems(devices, menu->deviceItems())), kTopItems + kBottomItems);
}

TEST_F(RootMenuTest, RealWorldListingsGetOneHeaderPerRuntime)
{
    for (const QString name : {"fastlane__DeviceManagerSimctlOutputXcode15.txt",
                               "fastlane-scan__XcrunSimctlListDevicesOutput15.txt"}) {
        SCOPED_TRACE(name.toStdString());
        const auto listed = parse(readFile(realWorldPath("simctl-list-text/" + name)));
        ASSERT_FALSE(listed.empty());
        setDevices(listed);
        auto menu = makeMenu();
        std::vector<Runtime> seen;
        for (const auto &header : headers(*menu)) {
            const Runtime runtime = *header->representedObject().as<Runtime>();
            EXPECT_EQ(header->title(), runtime.description());
            EXPECT_EQ(std::count(seen.begin(), seen.end(), runtime), 0);
            if (!seen.empty())
                EXPECT_LT(seen.back(), runtime);
            seen.push_back(runtime);
        }
        std::set<QString> distinct;
        for (const auto &device : listed)
            distinct.insert(device->runtime().description());
        EXPECT_EQ(seen.size(), distinct.size());
        EXPECT_EQ(menu->deviceItems().size(), listed.size());
        if (name.startsWith("fastlane__"))
            EXPECT_EQ(seen.back().system(), Runtime::System::visionOS);
    }
}

TEST_F(RootMenuTest, WatchTitlesDropTheirPrefixOnlyOnWatchRuntimes)
{
    const Runtime watch(Runtime::System::watchOS, "10.2");
    const Runtime phone(Runtime::System::iOS, "17.2");
    EXPECT_EQ(DeviceTitle::menuTitle("Apple Watch Ultra 2 (49mm)", watch), "Ultra 2 (49mm)");
    EXPECT_EQ(DeviceTitle::menuTitle("Apple Watch Series 9 (45mm)", phone),
              "Apple Watch Series 9 (45mm)");
    EXPECT_EQ(DeviceTitle::menuTitle("My Apple Watch", watch), "My Apple Watch");
    EXPECT_EQ(DeviceTitle::menuTitle("Apple Watch", watch), "");
}

TEST_F(RootMenuTest, RebuildsKeepRowsAndPlaceNewDevicesBetweenNeighbours)
{
    std::atomic<int> made{0};
    auto env = environment();
    env.deviceMenuFactory = [&made](const DevicePtr &device, const std::shared_ptr<Toolset> &,
                                    bool applications, bool pairs) -> MenuPtr {
        EXPECT_TRUE(applications && pairs);
        ++made;
        return std::make_shared<Menu>(device->title());
    };
    const QString first = "== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15", kPhone) +
                          line("iPhone 15 Pro", kPhone3);
    setDevices(parse(first));
    auto menu = make(toolset, env);
    const auto phone = row(*menu, kPhone);
    const auto submenu = phone->submenu();
    ASSERT_TRUE(submenu);
    EXPECT_EQ(phone->target(), submenu);
    EXPECT_EQ(made, 2);

    // A renamed device keeps its row and title; a new one lands between.
    setDevices(parse("== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15 (renamed)", kPhone) +
                     line("iPhone 15 Plus", kPhone2) + line("iPhone 15 Pro", kPhone3)));
    menu->deviceListDidChange();
    ASSERT_TRUE(waitUntil([&] { return menu->deviceItems().size() == 3; }));
    EXPECT_EQ(row(*menu, kPhone), phone);
    EXPECT_EQ(phone->submenu(), submenu);
    EXPECT_EQ(phone->title(), "iPhone 15");
    EXPECT_EQ(itemTitles(menu->deviceItems()),
              (QStringList{"iPhone 15", "iPhone 15 Plus", "iPhone 15 Pro"}));
    EXPECT_EQ(made, 3);
}

TEST_F(RootMenuTest, OfTwoQueuedRebuildsTheLaterWins)
{
    std::vector<std::vector<DevicePtr>> lists{
        parse("== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15", kPhone)),
        parse("== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15 Plus", kPhone2))};
    auto menu = makeMenu();
    // The second rebuild reads the second list.
    holdQueue(*menu);
    setDevices(lists[0]);
    menu->deviceListDidChange();
    menu->queue()->async([&] { setDevices(lists[1]); });
    menu->deviceListDidChange();
    gate.signal();
    menu->queue()->sync([] {});
    DispatchQueue::drainMain();
    EXPECT_EQ(itemTitles(menu->deviceItems()), QStringList{"iPhone 15 Plus"});
}

TEST_F(RootMenuTest, ARebuildAfterTheMenuIsGoneDoesNothing)
{
    auto menu = makeMenu();
    const auto queue = menu->queue();
    std::weak_ptr<RootMenu> weak = menu;
    holdQueue(*menu);
    menu->deviceListDidChange();
    const int reads = deviceReads;
    menu.reset();
    DispatchQueue::drainMain();
    EXPECT_TRUE(weak.expired());
    gate.signal();
    queue->sync([] {});
    DispatchQueue::drainMain();
    EXPECT_EQ(deviceReads, reads);

    // A device-list notification reaches a live menu and none that is gone.
    setDevices(parse(kExample));
    auto live = makeMenu();
    postNotification(Notifications::deviceListDidChange);
    ASSERT_TRUE(waitUntil([&] { return live->deviceItems().size() == 2; }));
}

TEST_F(RootMenuTest, UpdateShowsRunningDevicesAndTheHintsOfEachSituation)
{
    setDevices(parse(kExample));
    auto menu = makeMenu();

    // Nothing runs, nothing installed: rows and headers hidden, hints shown.
    menu->update();
    EXPECT_EQ(
        itemTitles(menu->items(), true),
        (QStringList{"Quick Repeat", "No Recent Command", "-", "Most Recent Builds", "None", "-",
                     "Not Seeing Any Devices?", "Hold ⌥ to show all…", "-", "GPS Simulator…",
                     "Import/Export Activity", "-", "Reset SwiftUI Previews", "Trash Derived Data",
                     "-", "About Corvane", "Settings…", "Help", "Quit"}));

    // The watch runs: its row and header show, with the running mark.
    setRunning({kWatch});
    menu->update();
    const auto watch = row(*menu, kWatch);
    EXPECT_FALSE(watch->isHidden());
    EXPECT_EQ(watch->state(), ControlState::On);
    EXPECT_TRUE(watch->isEnabled());
    EXPECT_TRUE(row(*menu, kPhone)->isHidden());
    EXPECT_EQ(row(*menu, kPhone)->state(), ControlState::Off);
    EXPECT_TRUE(headers(*menu)[0]->isHidden());
    EXPECT_FALSE(headers(*menu)[1]->isHidden());
    for (const auto &hint : {menu->notSeeingPromptItem(), menu->noSimsShowAllItem(),
                             menu->noSimsItem(), menu->manageItem()})
        EXPECT_TRUE(hint->isHidden());

    // No devices at all, Option held: the troubleshooting item.
    setDevices({});
    setRunning({});
    auto empty = makeMenu();
    modifiers->modifiers = KeyModifier::Option;
    empty->update();
    EXPECT_FALSE(empty->noSimsItem()->isHidden());
    EXPECT_TRUE(empty->noSimsShowAllItem()->isHidden());
    EXPECT_FALSE(empty->notSeeingPromptItem()->isHidden());
    EXPECT_TRUE(empty->manageItem()->isHidden());
    EXPECT_FALSE(empty->diagnosticsItem()->isHidden());
}

TEST_F(RootMenuTest, DevicesWithApplicationsShowAndWithoutToolsetAllShow)
{
    tree.addRuntime("iOS", "17.2");
    const QString phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2"});
    tree.addDevice({.name = "iPhone 15 Plus", .runtime = "iOS 17.2"});
    tree.installApp(phone, {.identifier = "com.example.foo", .name = "Foo"});
    SystemPaths paths = tree.paths();
    paths.ps = path("ps");
    SystemPaths::setCurrent(paths);
    const auto watcher = offMain([&] { return DeviceWatcher::make(toolset); });
    toolset->setDeviceWatcher(watcher);

    auto env = environment();
    env.devices = nullptr;
    auto menu = make(toolset, env);
    ASSERT_EQ(menu->deviceItems().size(), 2u);
    menu->update();
    EXPECT_EQ(itemTitles(menu->deviceItems(), true), QStringList{"iPhone 15"});

    // A menu whose toolset is gone shows every row it has, disabled.
    toolset->setDeviceWatcher(nullptr);
    toolset.reset();
    menu->update();
    EXPECT_EQ(menu->deviceItems().size(), 2u);
    for (const auto &item : menu->deviceItems()) {
        EXPECT_FALSE(item->isHidden());
        EXPECT_FALSE(item->isEnabled());
    }
    EXPECT_FALSE(menu->gpsItem()->isEnabled());
}

TEST_F(RootMenuTest, OptionWhileOpenRevealsRows)
{
    setDevices(parse(kExample));
    auto menu = makeMenu();
    menu->willOpen();
    menu->update();
    EXPECT_TRUE(menu->isPollingOptionKey());
    EXPECT_TRUE(row(*menu, kPhone)->isHidden());

    modifiers->modifiers = KeyModifier::Option;
    ASSERT_TRUE(waitUntil([&] { return !row(*menu, kPhone)->isHidden(); }));
    EXPECT_FALSE(headers(*menu)[0]->isHidden());
    EXPECT_FALSE(headers(*menu)[1]->isHidden());
    EXPECT_FALSE(menu->diagnosticsItem()->isHidden());
    EXPECT_TRUE(menu->noSimsShowAllItem()->isHidden());

    modifiers->modifiers = KeyModifier::None;
    ASSERT_TRUE(waitUntil([&] { return row(*menu, kPhone)->isHidden(); }));
    EXPECT_TRUE(menu->diagnosticsItem()->isHidden());
    EXPECT_FALSE(menu->noSimsShowAllItem()->isHidden());
    menu->didClose();
    EXPECT_FALSE(menu->isPollingOptionKey());
}

// Alt pressed on the open menu, as the window system reports it: the Option
// rows show in place, the menu stays open; released, they hide again.
TEST_F(RootMenuTest, AltOnTheOpenMenuShowsTheOptionRowsInPlace)
{
    setDevices(parse(kExample));
    auto env = environment();
    env.modifiers = ModifierSource::system();
    auto menu = make(toolset, env);
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    qmenu->popup(QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return qmenu->isVisible(); }));
    auto shown = [&](const MenuItemPtr &item) { return renderer.actionFor(item)->isVisible(); };
    const auto phone = row(*menu, kPhone);
    ASSERT_FALSE(shown(menu->diagnosticsItem()) || shown(phone));

    QTest::keyPress(qmenu, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return shown(menu->diagnosticsItem()) && shown(phone); }));
    EXPECT_FALSE(shown(menu->noSimsShowAllItem()));
    EXPECT_TRUE(qmenu->isVisible());
    QTest::keyRelease(qmenu, Qt::Key_Alt, Qt::NoModifier);
    EXPECT_TRUE(waitUntil([&] { return !shown(menu->diagnosticsItem()) && !shown(phone); }));
    EXPECT_TRUE(qmenu->isVisible());
    qmenu->hide();
}

TEST_F(RootMenuTest, RecordingMarksAndHighlightDeriveFromTheBaseImage)
{
    setDevices(parse(kExample));
    setRunning({kPhone, kWatch});
    auto menu = makeMenu();
    const auto phone = row(*menu, kPhone);
    const auto watch = row(*menu, kWatch);
    const ImageRef accentOn = ImageRef::resource("On").tinted(ImageRef::TintColor::Accent);
    const ImageRef recording = ImageRef::resource("Recording");

    recordings->recording.insert(kPhone);
    menu->recordingDidChange(phone->representedObject().object());
    menu->update();
    EXPECT_EQ(phone->onStateImage(), recording);
    EXPECT_EQ(watch->onStateImage(), accentOn);
    EXPECT_FALSE(menu->stopRecordingItem()->isHidden());
    EXPECT_FALSE(menu->stopRecordingBuffer()->isHidden());

    menu->willHighlight(phone);
    EXPECT_EQ(phone->onStateImage(), recording.tinted(ImageRef::TintColor::White));
    menu->willHighlight(watch);
    EXPECT_EQ(phone->onStateImage(), recording);
    EXPECT_EQ(watch->onStateImage(), ImageRef::resource("On").tinted(ImageRef::TintColor::White));
    menu->willHighlight(menu->quitItem());
    EXPECT_EQ(watch->onStateImage(), accentOn);
    menu->willHighlight(nullptr);
    EXPECT_EQ(watch->onStateImage(), accentOn);

    // Something that is no device changes nothing.
    menu->recordingDidChange(std::make_shared<Object>());
    EXPECT_EQ(menu->recordingDevice(), phone->representedObject().as<Device>());
}

TEST_F(RootMenuTest, StopRecordingStaysWhileAnotherDeviceRecords)
{
    setDevices(parse(kExample));
    auto menu = makeMenu();
    const auto phone = row(*menu, kPhone)->representedObject().object();
    const auto watch = row(*menu, kWatch)->representedObject().object();
    recordings->listed = {phone, watch};

    recordings->recording = {kPhone};
    menu->recordingDidChange(phone);
    recordings->recording = {kPhone, kWatch};
    menu->recordingDidChange(watch);
    EXPECT_EQ(menu->recordingDevice(), watch);
    recordings->recording = {kPhone};
    menu->recordingDidChange(watch);
    EXPECT_EQ(menu->recordingDevice(), phone);
    menu->update();
    EXPECT_FALSE(menu->stopRecordingItem()->isHidden());

    menu->stopRecordingItem()->sendAction();
    EXPECT_EQ(recordings->interrupted, QStringList{kPhone});
    recordings->recording.clear();
    menu->recordingDidChange(phone);
    EXPECT_EQ(menu->recordingDevice(), nullptr);
    menu->update();
    EXPECT_TRUE(menu->stopRecordingItem()->isHidden());
}

TEST_F(RootMenuTest, KeyEquivalentsFollowTheStoredShortcuts)
{
    auto defaults = UserDefaults::standard();
    defaults->set("GlobalRedo", Shortcut{15, 0x100000}.archived());
    auto menu = makeMenu();
    EXPECT_EQ(menu->redoItem()->keyEquivalent(), "r");
    EXPECT_EQ(menu->redoItem()->keyEquivalentModifierMask(), KeyModifier::Command);
    EXPECT_TRUE(menu->deleteDDItem()->keyEquivalent().isEmpty());

    menu->willOpen();
    defaults->set("DeleteDerivedData", Shortcut{40, 0x100000 | 0x20000}.archived());
    DispatchQueue::drainMain();
    EXPECT_EQ(menu->deleteDDItem()->keyEquivalent(), "k");
    EXPECT_EQ(menu->deleteDDItem()->keyEquivalentModifierMask(),
              KeyModifier::Command | KeyModifier::Shift);
    menu->didClose();

    defaults->set("GlobalRedo", QByteArray("not an archive"));
    DispatchQueue::drainMain();
    EXPECT_TRUE(menu->redoItem()->keyEquivalent().isEmpty());
    EXPECT_EQ(menu->redoItem()->keyEquivalentModifierMask(), KeyModifier::None);

    // A menu that is gone is left alone.
    std::weak_ptr<RootMenu> weak = menu;
    menu.reset();
    defaults->set("GlobalRedo", Shortcut{15, 0x100000}.archived());
    DispatchQueue::drainMain();
    EXPECT_TRUE(weak.expired());
}

TEST_F(RootMenuTest, PreviewsResetReachesSimctlAndQuickRepeatRunsItAgain)
{
    auto menu = makeMenu();
    auto previewsRuns = [this] {
        int runs = 0;
        for (const auto &invocation : tree.invocations())
            runs += invocation.tool == "simctl" &&
                    invocation.arguments == QStringList{"--set", "previews", "delete", "all"};
        return runs;
    };

    // Nothing to repeat yet.
    EXPECT_TRUE(menu->redoItem()->sendAction());
    pumpFor(50ms);
    EXPECT_EQ(previewsRuns(), 0);

    ASSERT_TRUE(menu->trashPreviewsItem()->sendAction());
    ASSERT_TRUE(waitUntil([&] { return previewsRuns() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return menu->redoItem()->title() == "Reset SwiftUI Previews"; }));
    const auto newest = commands->newestLiveCommand();
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->selector, "trashPreviews:");
    EXPECT_EQ(newest->loadTarget(), menu);
    menu->update();
    EXPECT_TRUE(menu->redoItem()->isEnabled());
    EXPECT_TRUE(menu->redoItem()->representedObject().is<CommandManager::Command>());

    // Each repeat runs again and keeps the command as it was recorded: one
    // entry, still titled after the item.
    ASSERT_TRUE(menu->redoItem()->sendAction());
    ASSERT_TRUE(waitUntil([&] { return previewsRuns() == 2; }));
    ASSERT_TRUE(menu->redoItem()->sendAction());
    ASSERT_TRUE(waitUntil([&] { return previewsRuns() == 3; }));
    DispatchQueue::waitUntilIdle(10s);
    pumpFor(20ms);
    ASSERT_EQ(commands->recentCommands().size(), 1u);
    EXPECT_EQ(commands->recentCommands()[0].title, "Reset SwiftUI Previews");
    EXPECT_EQ(menu->redoItem()->title(), "Reset SwiftUI Previews");
}

TEST_F(RootMenuTest, ADeviceAddedWhileTheMenuIsBuiltAppears)
{
    setDevices(parse("== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15", kPhone)));
    // The construction reads the list, then waits before setting its items;
    // the rebuild of a second change waits until the check is done.
    DispatchSemaphore constructionRead, releaseConstruction, releaseSecondRebuild;
    struct Release {
        DispatchSemaphore &a, &b;
        ~Release()
        {
            a.signal();
            b.signal();
        }
    } release{releaseConstruction, releaseSecondRebuild};
    std::atomic<int> reads{0};
    auto env = environment();
    env.devices = [&, read = env.devices](const std::shared_ptr<Toolset> &xcode) {
        auto list = read(xcode);
        const int call = ++reads;
        if (call == 1) {
            constructionRead.signal();
            releaseConstruction.wait();
        } else if (call == 3) {
            releaseSecondRebuild.wait();
        }
        return list;
    };
    std::shared_ptr<RootMenu> menu;
    std::atomic<bool> built{false};
    DispatchQueue::userInitiated()->async([&] {
        menu = RootMenu::make("Corvane", toolset, env);
        built = true;
    });
    constructionRead.wait();

    setDevices(parse("== Devices ==\n-- iOS 17.2 --\n" + line("iPhone 15", kPhone) +
                     line("iPhone 15 Plus", kPhone2)));
    postNotification(Notifications::deviceListDidChange);
    ASSERT_TRUE(waitUntil([&] { return reads == 2; }));
    // A second change queues behind the first rebuild, which has then handed
    // its items to the main queue; a marker behind them shows them set.
    postNotification(Notifications::deviceListDidChange);
    ASSERT_TRUE(waitUntil([&] { return reads == 3; }));
    std::atomic<bool> marker{false};
    DispatchQueue::main()->async([&] { marker = true; });
    ASSERT_TRUE(waitUntil([&] { return marker.load(); }));

    releaseConstruction.signal();
    ASSERT_TRUE(waitUntil([&] { return built.load(); }));
    EXPECT_EQ(itemTitles(menu->deviceItems()), (QStringList{"iPhone 15", "iPhone 15 Plus"}));
    releaseSecondRebuild.signal();
    menu->queue()->sync([] {});
    DispatchQueue::drainMain();
    EXPECT_EQ(menu->deviceItems().size(), 2u);
}

TEST_F(RootMenuTest, ASlowPsNeverHoldsTheMainThreadAndTheMarksFollowItsListing)
{
    setDevices(parse(kExample));
    auto menu = makeMenu();
    const auto phoneDevice = row(*menu, kPhone)->representedObject().as<Device>();
    auto deviceMenu = offMain([&] {
        return DeviceMenu::make(phoneDevice, toolset, true, true, {monitor, commands, {}});
    });
    // No listing of the construction may still run when ps slows down.
    ASSERT_TRUE(DispatchQueue::waitUntilIdle(10s));
    writeScript(path("ps"),
                "echo run >> '" + path("runs") + "'\nsleep 3\ncat '" + path("list") + "'");
    writeFile(path("list"), simulatorProcessLines({kPhone, kWatch}).toUtf8());

    // Opening, updating, the rules and an action's guard answer from the
    // last snapshot at once; the listing runs elsewhere.
    const auto started = std::chrono::steady_clock::now();
    menu->willOpen();
    menu->update();
    deviceMenu->willOpen();
    deviceMenu->update();
    DispatchQueue::drainMain();
    deviceMenu->shutdownItem()->sendAction();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(row(*menu, kPhone)->state(), ControlState::Off);
    EXPECT_FALSE(deviceMenu->launchItem()->isHidden());

    // That ps is ended at the time limit; a quicker one, asked for meanwhile,
    // brings the new marks to the open menus.
    ASSERT_TRUE(waitUntil([&] { return readFile(path("runs")).count("run") == 1; }));
    writeScript(path("ps"), "sleep 1\ncat '" + path("list") + "'");
    monitor->markOutOfDate();
    menu->update();
    EXPECT_TRUE(waitUntil([&] { return row(*menu, kPhone)->state() == ControlState::On; }, 10s));
    EXPECT_FALSE(row(*menu, kWatch)->isHidden());
    EXPECT_TRUE(waitUntil([&] { return deviceMenu->launchItem()->isHidden(); }, 10s));
    EXPECT_FALSE(deviceMenu->shutdownItem()->isHidden());
    menu->didClose();
    deviceMenu->didClose();
}

TEST_F(RootMenuTest, OpeningAndClosingLeaveOneBindingAndNoTimer)
{
    AppDelegate::Environment environment;
    environment.statusItem = std::make_shared<CountingStatusItem>();
    auto delegate = AppDelegate::make(environment);
    delegate->bindHotKeys();
    setRunning({kPhone});
    setDevices(parse(kExample));
    auto menu = makeMenu();
    menu->update();
    // Opening lists the processes afresh, and the open menu follows.
    writeProcessList({});
    for (int i = 0; i < 3; ++i) {
        menu->willOpen();
        EXPECT_TRUE(binder->bindings.empty());
        menu->willOpen();
        menu->update();
        EXPECT_TRUE(waitUntil([&] { return row(*menu, kPhone)->state() == ControlState::Off; }));
        menu->didClose();
        EXPECT_EQ(binder->bindings.size(), 2u);
        EXPECT_FALSE(menu->isPollingOptionKey());
    }
}

TEST_F(RootMenuTest, ActionsReachTheirServices)
{
    auto menu = makeMenu();
    runtimes = {Runtime(Runtime::System::visionOS, "1.0"), Runtime(Runtime::System::iOS, "17.2")};
    menu->noSimsItem()->sendAction();
    runtimes.push_back(Runtime(Runtime::System::visionOS, "2.0"));
    menu->noSimsItem()->sendAction();
    ASSERT_EQ(alerts->presented.size(), 2u);
    EXPECT_EQ(alerts->presented[0].messageText, "Troubleshooting Tip");
    EXPECT_EQ(alerts->presented[0].style, AlertSpec::Style::Informational);
    EXPECT_TRUE(alerts->presented[0].informativeText.startsWith("Ensure you have"));
    EXPECT_TRUE(alerts->presented[1].informativeText.startsWith("Having multiple visionOS"));

    workspace->requests.clear();
    menu->gpsItem()->sendAction();
    EXPECT_EQ(gpsWindow->shown, 1);
    menu->helpItem()->sendAction();
    ASSERT_EQ(workspace->requests.size(), 2u);
    EXPECT_EQ(workspace->requests[1].operation, "openUrl");
}

namespace {

// A plain menu in place of an application menu: it keeps the application it
// was made for and counts the auto: its row sends.
class FakeApplicationMenu : public Menu {
public:
    explicit FakeApplicationMenu(ApplicationPtr application)
        : Menu(application->title()), application(std::move(application))
    {
        addAction("auto:", [this](const ObjectPtr &) { ++autoSent; });
    }
    const ApplicationPtr application;
    int autoSent = 0;
};

class ItemChanges : public MenuObserver {
public:
    void menuItemsDidChange(Menu &) override { ++changes; }
    void menuItemDidChange(Menu &, const std::shared_ptr<MenuItem> &) override { ++changes; }
    void menuTitleDidChange(Menu &) override {}
    void menuCancelTracking(Menu &) override {}
    int changes = 0;
};

// Two phones of the simulated Xcode, listed by a device watcher, with
// application menus of the fake kind.
class TreeRootMenuTest : public RootMenuTest {
protected:
    void SetUp() override
    {
        RootMenuTest::SetUp();
        tree.addRuntime("iOS", "17.2");
        phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2"});
        phone2 = tree.addDevice({.name = "iPhone 15 Plus", .runtime = "iOS 17.2"});
        SystemPaths paths = tree.paths();
        paths.ps = path("ps");
        SystemPaths::setCurrent(paths);
    }

    // Bundles written a little apart, so that each is newer than the last.
    AppInstall install(const QString &udid, const QString &identifier, const QString &name)
    {
        std::this_thread::sleep_for(15ms);
        return tree.installApp(udid, {.identifier = identifier, .name = name});
    }

    void listDevices()
    {
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
        toolset->setDeviceWatcher(watcher);
    }
    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }
    // A rescan of the device's applications, as its folder watch makes.
    void rescan(const QString &udid)
    {
        offMain([&] { device(udid)->reloadApplications(); });
    }

    std::shared_ptr<RootMenu> makeRecentMenu(SubmenuFactories::ApplicationFactory factory = {})
    {
        auto env = environment();
        env.devices = nullptr;
        env.applicationMenuFactory =
            factory ? std::move(factory)
                    : [this](const ApplicationPtr &application,
                             const std::shared_ptr<Toolset> &xcode, bool showsDevice) -> MenuPtr {
            EXPECT_EQ(xcode, toolset);
            EXPECT_TRUE(showsDevice);
            ++menusMade;
            return std::make_shared<FakeApplicationMenu>(application);
        };
        return make(toolset, env);
    }

    // Each recent row as "title @ device", "-" without an application.
    static QStringList shown(const RootMenu &menu)
    {
        QStringList result;
        for (const auto &item : menu.recentItems()) {
            const auto application = item->application();
            result << (application ? application->title() + " @ " + application->device()->title()
                                   : "-");
        }
        return result;
    }
    static std::shared_ptr<FakeApplicationMenu> submenu(const RootMenu &menu, size_t index)
    {
        return std::dynamic_pointer_cast<FakeApplicationMenu>(menu.recentItems()[index]->submenu());
    }
    static void expectEmpty(const MenuItemPtr &item)
    {
        EXPECT_TRUE(item->representedObject().isEmpty());
        EXPECT_FALSE(item->submenu());
        EXPECT_FALSE(item->target());
    }

    QString phone, phone2;
    DeviceWatcherPtr watcher;
    std::atomic<int> menusMade{0};
};

} // namespace

TEST_F(TreeRootMenuTest, TheNewestBuildsOfEveryDeviceComeFirstWithTheirMenus)
{
    install(phone, "com.example.foo", "Foo");
    install(phone, "com.example.bar", "Bar");
    listDevices();
    auto menu = makeRecentMenu();
    EXPECT_EQ(shown(*menu), QStringList({"Bar @ iPhone 15", "Foo @ iPhone 15", "-"}));
    EXPECT_EQ(menusMade, 2);
    expectEmpty(menu->recentItems()[2]);
    menu->update();
    EXPECT_TRUE(menu->noRecentItem()->isHidden());
    EXPECT_EQ(itemTitles({menu->recentItems().begin(), menu->recentItems().end()}, true),
              QStringList({"Bar", "Foo"}));

    // The row's target is its application's menu, which gets the click.
    const auto bar = submenu(*menu, 0);
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->application->identifier(), "com.example.bar");
    EXPECT_EQ(menu->recentItems()[0]->target(), bar);
    EXPECT_TRUE(menu->recentItems()[0]->sendAction());
    EXPECT_EQ(bar->autoSent, 1);

    // The same bundle on another device is one more build, the newest; the
    // menus already made follow their applications down.
    const auto foo = submenu(*menu, 1);
    install(phone2, "com.example.foo", "Foo");
    rescan(phone2);
    ASSERT_TRUE(waitUntil([&] { return shown(*menu)[0] == "Foo @ iPhone 15 Plus"; }));
    EXPECT_EQ(shown(*menu),
              QStringList({"Foo @ iPhone 15 Plus", "Bar @ iPhone 15", "Foo @ iPhone 15"}));
    EXPECT_EQ(menusMade, 3);
    EXPECT_EQ(submenu(*menu, 1), bar);
    EXPECT_EQ(submenu(*menu, 2), foo);
    EXPECT_EQ(submenu(*menu, 0)->application,
              device(phone2)->applicationTable().at("com.example.foo"));

    // No device watcher, or no toolset: nothing to show.
    toolset->setDeviceWatcher(nullptr);
    menu->refreshSubmenus();
    for (const auto &item : menu->recentItems())
        expectEmpty(item);
    menu->update();
    EXPECT_FALSE(menu->noRecentItem()->isHidden());
    toolset->setDeviceWatcher(watcher);
    const auto withoutToolset = make(nullptr, environment());
    for (const auto &item : withoutToolset->recentItems())
        expectEmpty(item);
}

TEST_F(TreeRootMenuTest, AReinstallKeepsItsMenuAndAnUnchangedListTouchesNothing)
{
    const QString oldBundle = install(phone, "com.example.foo", "Foo").bundlePath;
    install(phone, "com.example.bar", "Bar");
    listDevices();
    auto menu = makeRecentMenu();
    ASSERT_EQ(shown(*menu), QStringList({"Bar @ iPhone 15", "Foo @ iPhone 15", "-"}));
    const auto bar = submenu(*menu, 0);
    const auto foo = submenu(*menu, 1);

    // A new bundle folder: the newest build, with the menu it had.
    const QString newBundle = install(phone, "com.example.foo", "Foo").bundlePath;
    ASSERT_NE(newBundle, oldBundle);
    rescan(phone);
    ASSERT_TRUE(waitUntil([&] { return shown(*menu)[0] == "Foo @ iPhone 15"; }));
    EXPECT_EQ(submenu(*menu, 0), foo);
    EXPECT_EQ(submenu(*menu, 1), bar);
    EXPECT_EQ(menu->recentItems()[0]->target(), foo);
    EXPECT_EQ(menusMade, 2);
    EXPECT_EQ(QDir::cleanPath(menu->recentItems()[0]->application()->url().toLocalFile()),
              newBundle);

    // A menu that carries something else is matched by its row's
    // application all the same.
    int plainMenus = 0;
    auto plain = makeRecentMenu(
        [&](const ApplicationPtr &, const std::shared_ptr<Toolset> &, bool) -> MenuPtr {
            ++plainMenus;
            return std::make_shared<Menu>("plain");
        });
    const auto first = plain->recentItems()[0]->submenu();
    install(phone, "com.example.bar", "Bar");
    rescan(phone);
    ASSERT_TRUE(waitUntil([&] { return shown(*plain)[0] == "Bar @ iPhone 15"; }));
    EXPECT_EQ(plain->recentItems()[1]->submenu(), first);
    EXPECT_EQ(plainMenus, 2);

    ItemChanges changes;
    auto observer = std::shared_ptr<MenuObserver>(&changes, [](MenuObserver *) {});
    menu->setObserver(observer);
    pumpFor(20ms);
    changes.changes = 0;
    menu->refreshSubmenus();
    menu->refreshSubmenus();
    EXPECT_EQ(changes.changes, 0);
    menu->setObserver({});
}

// The first fill may wait for a tool (ps, through a recent build's device
// menu): notifications meanwhile never hold the main thread, and what they
// ask for follows the fill.
TEST_F(TreeRootMenuTest, NotificationsDuringTheFirstFillNeverHoldTheMainThread)
{
    install(phone, "com.example.foo", "Foo");
    listDevices();
    DispatchSemaphore entered, release;
    std::atomic<bool> toolEnded{false};
    auto env = environment();
    env.devices = nullptr;
    env.applicationMenuFactory = [&](const ApplicationPtr &application,
                                     const std::shared_ptr<Toolset> &, bool) -> MenuPtr {
        // In the first fill, a hung tool ended at its deadline.
        if (!DispatchQueue::isMainThread()) {
            entered.signal();
            toolEnded = !release.wait(20s);
        }
        return std::make_shared<FakeApplicationMenu>(application);
    };
    std::shared_ptr<RootMenu> menu;
    std::atomic<bool> built{false};
    DispatchQueue::userInitiated()->async([&] {
        menu = RootMenu::make("Corvane", toolset, env);
        built = true;
    });
    entered.wait();

    install(phone, "com.example.bar", "Bar");
    rescan(phone);
    commands->recordCommand("Do It", device(phone), "doIt:");
    std::atomic<bool> handled{false};
    DispatchQueue::main()->async([&] { handled = true; });
    ASSERT_TRUE(waitUntil([&] { return handled.load(); }));
    EXPECT_FALSE(toolEnded) << "the main thread waited for the fill";

    release.signal();
    ASSERT_TRUE(waitUntil([&] { return built.load(); }));
    EXPECT_TRUE(waitUntil([&] { return menu->redoItem()->title() == "Do It"; }));
    EXPECT_EQ(shown(*menu), QStringList({"Bar @ iPhone 15", "Foo @ iPhone 15", "-"}));
}

// One bundle folder seen from two devices is two builds of the same moment:
// they stand in the order of their devices, whichever device is read again.
TEST_F(TreeRootMenuTest, BuildsOfTheSameMomentKeepTheOrderOfTheirDevices)
{
    const AppInstall foo = install(phone, "com.example.foo", "Foo");
    const QString folder = tree.devicesDir() + "/" + phone2 +
                           "/data/Containers/Bundle/Application/" +
                           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::link(foo.bundlePath, folder + "/Foo.app"));
    listDevices();
    ASSERT_EQ(device(phone2)->applicationTable().at("com.example.foo")->created(),
              device(phone)->applicationTable().at("com.example.foo")->created());
    auto menu = makeRecentMenu();
    const QStringList inDeviceOrder{"Foo @ iPhone 15", "Foo @ iPhone 15 Plus", "-"};
    EXPECT_EQ(shown(*menu), inDeviceOrder);
    for (const QString &udid : {phone2, phone}) {
        postNotification(Device::applicationListDidChange, device(udid));
        DispatchQueue::drainMain();
        EXPECT_EQ(shown(*menu), inDeviceOrder);
    }
}

// Quick Repeat names no command whose target has gone, also when no other
// command was recorded since.
TEST_F(TreeRootMenuTest, QuickRepeatReadsNoRecentCommandOnceNoLiveCommandIsLeft)
{
    listDevices();
    auto menu = makeMenu();
    auto gone = parse("== Devices ==\n-- iOS 17.2 --\n" + line("Gone", kPhone3));
    commands->recordCommand("Erase", gone.front(), "erase:");
    DispatchQueue::drainMain();
    menu->update();
    ASSERT_EQ(menu->redoItem()->title(), "Erase");
    gone.clear();
    menu->update();
    EXPECT_EQ(menu->redoItem()->title(), "No Recent Command");
    EXPECT_FALSE(menu->redoItem()->isEnabled());
    EXPECT_TRUE(menu->redoItem()->representedObject().isEmpty());
}

// A device that leaves the list takes its builds along; one that comes
// brings its own.
TEST_F(TreeRootMenuTest, RecentBuildsFollowTheDeviceList)
{
    install(phone, "com.example.foo", "Foo");
    install(phone2, "com.example.bar", "Bar");
    listDevices();
    setDevices({device(phone)});
    auto env = environment();
    env.applicationMenuFactory = [](const ApplicationPtr &application,
                                    const std::shared_ptr<Toolset> &, bool) -> MenuPtr {
        return std::make_shared<FakeApplicationMenu>(application);
    };
    auto menu = make(toolset, env);
    const QStringList phoneOnly{"Foo @ iPhone 15", "-", "-"};
    EXPECT_EQ(shown(*menu), phoneOnly);

    setDevices({device(phone), device(phone2)});
    postNotification(Notifications::deviceListDidChange);
    EXPECT_TRUE(waitUntil([&] {
        return shown(*menu) == QStringList({"Bar @ iPhone 15 Plus", "Foo @ iPhone 15", "-"});
    }));
    setDevices({device(phone)});
    postNotification(Notifications::deviceListDidChange);
    EXPECT_TRUE(waitUntil([&] { return shown(*menu) == phoneOnly; }));
}

TEST_F(TreeRootMenuTest, QuickRepeatNamesTheNewestLiveCommandAndWhereItRan)
{
    tree.addRuntime("watchOS", "10.2");
    const QString watch =
        tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "watchOS 10.2"});
    const QString watchLikePhone =
        tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "iOS 17.2"});
    install(phone, "com.example.long", "Lanternfish Notes for Everyone");
    install(phone2, "com.example.foo", "Foo");
    listDevices();
    auto menu = makeMenu();
    const auto longTitled = device(phone)->applicationTable().at("com.example.long");
    // An application whose device has gone since.
    const QString goneListing = "== Devices ==\n-- iOS 17.2 --\n" + line("Gone", kPhone3);
    auto orphan = offMain([&] {
        return Application::make(longTitled->url(), parse(goneListing).front(), toolset,
                                 Application::SimulatorCheck::byCaller);
    });
    ASSERT_TRUE(orphan);
    ASSERT_FALSE(orphan->device());

    const struct {
        ObjectPtr target;
        std::optional<QString> secondLine;
    } cases[] = {
        {device(phone), "Repeat on iPhone 15 (iOS 17.2)"},
        {device(watch), "Repeat on Series 9 (45mm) (watchOS 10.2)"},
        {device(watchLikePhone), "Repeat on Apple Watch Series 9 (45mm) (iOS 17.2)"},
        {longTitled, "Repeat for Lanternfish Notes fo… on iPhone 15"},
        {device(phone2)->applicationTable().at("com.example.foo"),
         "Repeat for Foo on iPhone 15 Plus"},
        {orphan, std::nullopt},
        {LocationSimulator::shared(), std::nullopt},
    };
    for (const auto &c : cases) {
        commands->recordCommand("Do It", c.target, "doIt:");
        menu->updateRedoItem();
        SCOPED_TRACE(c.secondLine.value_or("plain").toStdString());
        EXPECT_EQ(menu->redoItem()->title(), "Do It");
        const auto twoLines = menu->redoItem()->twoLineTitle();
        EXPECT_EQ(twoLines ? std::optional<QString>(twoLines->secondary) : std::nullopt,
                  c.secondLine);
        if (twoLines) {
            EXPECT_EQ(twoLines->primary, "Do It");
            EXPECT_EQ(twoLines->secondaryRole, TwoLineTitle::Role::Text);
        }
    }

    // The newest command's target is gone: the newest live one is named.
    {
        const auto gone = parse(goneListing);
        commands->recordCommand("Older", device(phone), "older:");
        commands->recordCommand("Newest", gone.front(), "newest:");
        menu->updateRedoItem();
        EXPECT_EQ(menu->redoItem()->title(), "Newest");
    }
    menu->updateRedoItem();
    EXPECT_EQ(menu->redoItem()->title(), "Older");
    EXPECT_EQ(menu->redoItem()->twoLineTitle()->secondary, "Repeat on iPhone 15 (iOS 17.2)");
    EXPECT_EQ(menu->redoItem()->representedObject().as<CommandManager::Command>()->selector,
              "older:");

    auto empty = make(toolset, [&] {
        auto env = environment();
        env.commandManager = CommandManager::make();
        return env;
    }());
    empty->update();
    EXPECT_EQ(empty->redoItem()->title(), "No Recent Command");
    EXPECT_FALSE(empty->redoItem()->twoLineTitle());
    EXPECT_FALSE(empty->redoItem()->isEnabled());
    EXPECT_TRUE(empty->redoItem()->representedObject().isEmpty());
}

TEST_F(TreeRootMenuTest, ARecentBuildBringsItsApplicationForward)
{
    const auto factory = SubmenuFactories::standard().applicationMenu;
    const AppInstall foo = install(phone, "com.example.foo", "Foo");
    listDevices();
    auto menu = makeRecentMenu(factory);
    const auto row = menu->recentItems()[0];
    ASSERT_TRUE(row->target());
    const auto shared = ActivityMonitor::shared();
    auto choose = [&](const QStringList &running, const QString &application = {}) {
        QString list = simulatorProcessLines(running);
        if (!application.isEmpty())
            list += "\n300 ??  0:01.00 " + tree.devicesDir() + "/" + phone +
                    "/data/Containers/Bundle/Application/" + application + "/Foo.app/Foo";
        writeFile(path("list"), list.toUtf8());
        writeScript(path("ps"), "cat '" + path("list") + "'");
        offMain([&] { shared->refreshProcesses(); });
        tree.clearLog();
        workspace->requests.clear();
        EXPECT_TRUE(row->sendAction());
        EXPECT_TRUE(test::waitForBackgroundWork());
    };
    auto simctlChanges = [&] {
        QStringList calls;
        for (const Invocation &call : tree.invocations())
            if (call.tool == "simctl" &&
                !QStringList{"list", "help"}.contains(call.arguments.value(0)))
                calls << call.arguments.join(' ');
        return calls;
    };
    auto made = [&](const QString &operation) {
        QStringList arguments;
        for (const auto &request : workspace->requests)
            if (request.operation == operation)
                arguments << request.argument;
        return arguments;
    };

    // Running device and application: the Simulator comes to the front.
    choose({phone}, foo.bundleUuid);
    EXPECT_EQ(made("activateSimulator").size(), 1);
    EXPECT_TRUE(simctlChanges().isEmpty());

    // The application is not running: it is launched.
    choose({phone});
    EXPECT_EQ(simctlChanges(), QStringList{"launch " + phone + " com.example.foo"});

    // A shut-down device: the Simulator is opened, then the device boots.
    choose({});
    EXPECT_EQ(
        made("openApplication"),
        QStringList{QDir::cleanPath(xcode + "/Contents/Developer/Applications/Simulator.app")});
    EXPECT_EQ(simctlChanges(), QStringList{"boot " + phone});
}

// A row that leaves the menu, or hides, takes what it painted along, in the
// status menu and in a device's own menu.
TEST_F(RootMenuTest, RemovedRowsLeaveNothingOnScreen)
{
    expectRemovedRowsLeaveNothing(QPoint(10, 10));
}
