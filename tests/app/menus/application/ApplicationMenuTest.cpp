#include "app/ApplicationMenuTestSupport.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/values/PermissionBarMenu.h"
#include "core/Observer.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/notifications/NotificationCenter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

using namespace corvane;
using namespace corvane::test;
using Command = Toolset::Command;
using Place = Container::Location;

namespace {

const QStringList kShortcuts{"Application Support", "Caches", "Documents", "Library", "Temp",
                             "User Defaults"};

QStringList phoneItems()
{
    return QStringList{"Simulator", "-", "Application Contents", "User Data Sandbox"} + kShortcuts +
           QStringList{"-",
                       "Export Data…",
                       "Replace Data…",
                       "Erase Sandbox",
                       "-",
                       "Send Push…",
                       "-",
                       "Grant Permissions",
                       "Revoke Permissions",
                       "Reset Permissions",
                       "-",
                       "Clear State Restoration Data (UIScene)",
                       "Clear Launch Storyboard Cache",
                       "-",
                       "Version 1.2 (34)",
                       "Launch",
                       "Uninstall…",
                       "Quit"};
}

MenuItemPtr itemTitled(const Menu &menu, const QString &title)
{
    for (const auto &item : menu.items())
        if (item->title() == title)
            return item;
    return nullptr;
}

// Every command the menu's rules ask about.
std::vector<Command> allCommands()
{
    return {Command::containerListing, Command::privacy,   Command::push,
            Command::launch,           Command::uninstall, Command::quit};
}

class ApplicationMenuTest : public ApplicationMenuFixture {
protected:
    // A data container with the folders named, and a preferences file when
    // asked.
    std::shared_ptr<Container> container(const QStringList &folders, bool preferences = false)
    {
        const QString root = dir.filePath("container-" + QString::number(++containers));
        for (const QString &folder : folders)
            QDir().mkpath(root + '/' + folder);
        if (preferences) {
            QDir().mkpath(root + "/Library/Preferences");
            writeFile(root + "/Library/Preferences/com.example.foo.plist", "<plist/>");
        }
        return std::make_shared<Container>("com.example.foo", Container::dataContainerIdentifier,
                                           QUrl::fromLocalFile(root));
    }

    ApplicationMenu::Facts running()
    {
        ApplicationMenu::Facts facts;
        facts.deviceExists = true;
        facts.simulatorRuns = true;
        facts.supportedCommands = allCommands();
        facts.dataContainer = container({"Library/Caches", "Documents", "tmp"});
        return facts;
    }

    int containers = 0;
};

struct Shown {
    bool enabled;
    bool hidden;
    bool operator==(const Shown &) const = default;
};

Shown shown(const MenuItemPtr &item)
{
    return {item->isEnabled(), item->isHidden()};
}

} // namespace

TEST_F(ApplicationMenuTest, ItemsOfAPhoneApplication)
{
    const auto menu = makeMenu(foo);
    EXPECT_EQ(menu->title(), "Foo");
    EXPECT_EQ(itemTitles(menu->items()), phoneItems());
    EXPECT_EQ(menu->groupsIndex(), phoneItems().indexOf("User Defaults") + 1);

    // The fixed items are the menu's fields; actions go to the menu.
    EXPECT_EQ(menu->items()[0], menu->deviceItem());
    EXPECT_EQ(menu->items()[1], menu->deviceDivideItem());
    EXPECT_EQ(menu->launchItem()->action(), "launch:");
    EXPECT_EQ(menu->launchItem()->target(), menu);
    EXPECT_EQ(menu->sandboxItem()->action(), "openContainer:");
    EXPECT_FALSE(menu->versionItem()->isEnabled());
    EXPECT_EQ(menu->deviceItem()->indentationLevel(), 1);
    EXPECT_FALSE(menu->deviceItem()->submenu());
    for (const auto &item : menu->items())
        EXPECT_TRUE(item->keyEquivalent().isEmpty());

    // The shortcut items carry their location, in order.
    const auto items = menu->items();
    for (int i = 0; i < 6; ++i) {
        const auto &item = items[size_t(4 + i)];
        EXPECT_EQ(item->representedObject().as<Place>(), Container::allLocations()[size_t(i)]);
        EXPECT_EQ(item->action(), "openContainerShortcut:");
        EXPECT_EQ(item->indentationLevel(), 1);
    }
    EXPECT_EQ(items[9]->image(), ImageRef::symbol("text.document"));

    // Each permission item holds its menu of the thirteen services.
    const auto revoke = itemTitled(*menu, "Revoke Permissions");
    const auto permissions = std::dynamic_pointer_cast<PermissionBarMenu>(revoke->submenu());
    ASSERT_TRUE(permissions);
    EXPECT_EQ(permissions->permission(), Application::Permission::revoke);
    EXPECT_EQ(permissions->items().size(), 13u);
    EXPECT_EQ(revoke->representedObject().as<Application::Permission>(),
              Application::Permission::revoke);
    EXPECT_TRUE(revoke->action().isEmpty());
}

TEST_F(ApplicationMenuTest, SceneItemsOnlyForPhonesAndPadsThatStillExist)
{
    const auto watchMenu = makeMenu(bar);
    const QStringList titles = itemTitles(watchMenu->items());
    EXPECT_FALSE(titles.contains("Clear State Restoration Data (UIScene)"));
    EXPECT_FALSE(titles.contains("Clear Launch Storyboard Cache"));
    EXPECT_EQ(
        titles.mid(titles.indexOf("Reset Permissions")),
        QStringList({"Reset Permissions", "-", "Version 1.0 (1)", "Launch", "Uninstall…", "Quit"}));
    // Made outside the menu, the refresh still sets them.
    watchMenu->refresh(running());
    EXPECT_TRUE(watchMenu->eraseSceneItem()->isEnabled());

    // An application whose device is gone before the menu is filled.
    const auto orphanMenu = offMain([&] { return ApplicationMenu::make(foo, toolset, false); });
    watcher.reset();
    toolset->setDeviceWatcher(nullptr);
    ASSERT_FALSE(foo->device());
    orphanMenu->populateIfNeeded();
    EXPECT_FALSE(itemTitles(orphanMenu->items()).contains("Clear Launch Storyboard Cache"));
}

TEST_F(ApplicationMenuTest, TheSimulatorItemCarriesTheDeviceMenuOnlyWhenAskedAndAlive)
{
    const auto shown = makeMenu(foo, true);
    const auto deviceMenu = std::dynamic_pointer_cast<DeviceMenu>(shown->deviceItem()->submenu());
    ASSERT_TRUE(deviceMenu);
    EXPECT_EQ(deviceMenu->device(), foo->device());
    EXPECT_FALSE(deviceMenu->shouldShowApplicationSubmenus());
    EXPECT_FALSE(deviceMenu->shouldShowPairedDevicesSubmenus());
    EXPECT_TRUE(shown->deviceItem()->action().isEmpty());

    // The flag false: the item and its separator are there, hidden.
    const auto plain = makeMenu(foo, false);
    plain->refresh(plain->currentFacts());
    EXPECT_TRUE(plain->deviceItem()->isHidden());
    EXPECT_TRUE(plain->deviceDivideItem()->isHidden());
    shown->refresh(shown->currentFacts());
    EXPECT_FALSE(shown->deviceItem()->isHidden());

    // Asked for, but the toolset is gone.
    auto application = foo;
    const auto orphan =
        offMain([&] { return ApplicationMenu::make(application, nullptr, true, environment()); });
    EXPECT_FALSE(orphan->deviceItem()->submenu());
}

TEST_F(ApplicationMenuTest, TheVersionFollowsOnlyThisApplicationsUpdates)
{
    const auto menu = makeMenu(foo);
    EXPECT_EQ(menu->versionItem()->title(), "Version 1.2 (34)");

    foo->setVersion("1.3");
    postNotification(Application::applicationDidUpdate, bar);
    postNotification(Application::applicationDidUpdate);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(menu->versionItem()->title(), "Version 1.2 (34)");

    postNotification(Application::applicationDidUpdate, foo);
    ASSERT_TRUE(waitUntil([&] { return menu->versionItem()->title() == "Version 1.3 (34)"; }));

    // A menu that was never opened made no version item and observes nothing.
    const int observers =
        NotificationCenter::defaultCenter().observerCount(Application::applicationDidUpdate);
    const auto closed = offMain([&] { return ApplicationMenu::make(foo, toolset, false); });
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount(Application::applicationDidUpdate),
              observers);
    EXPECT_TRUE(closed->items().empty());
    EXPECT_TRUE(closed->needsPopulation());
}

TEST_F(ApplicationMenuTest, RefreshRules)
{
    const auto menu = makeMenu(foo);
    const auto states = [&] {
        std::map<QString, Shown> result;
        for (const auto &item : menu->items())
            if (!item->isSeparator())
                result[item->title()] = shown(item);
        return result;
    };

    struct Case {
        const char *name;
        std::function<void(ApplicationMenu::Facts &)> change;
        std::map<QString, Shown> expected;
    };
    const Shown on{true, false}, off{false, false}, hidden{false, true};
    const Shown hiddenOn{true, true};
    const std::vector<Case> cases{
        {"running, application stopped",
         [](auto &) {},
         {{"Application Contents", on},
          {"User Data Sandbox", on},
          {"Application Support", off},
          {"Caches", on},
          {"Documents", on},
          {"Library", on},
          {"Temp", on},
          {"User Defaults", off},
          {"Export Data…", on},
          {"Replace Data…", on},
          {"Erase Sandbox", on},
          {"Send Push…", on},
          {"Grant Permissions", on},
          {"Clear State Restoration Data (UIScene)", on},
          {"Clear Launch Storyboard Cache", on},
          {"Version 1.2 (34)", off},
          {"Launch", on},
          {"Uninstall…", on},
          {"Quit", hiddenOn}}},
        {"the application runs",
         [](auto &facts) { facts.applicationRuns = true; },
         {{"Launch", hiddenOn}, {"Quit", on}}},
        {"no Caches folder, preferences written",
         [this](auto &facts) { facts.dataContainer = container({"Documents"}, true); },
         {{"Caches", off}, {"Documents", on}, {"User Defaults", on}, {"Library", on}}},
        {"the data container is unknown",
         [](auto &facts) { facts.dataContainer = nullptr; },
         {{"User Data Sandbox", off},
          {"Caches", off},
          {"Export Data…", off},
          {"Replace Data…", off},
          {"Erase Sandbox", off},
          {"Grant Permissions", on},
          {"Launch", on}}},
        {"the simulator is shut down",
         [](auto &facts) { facts.simulatorRuns = false; },
         {{"Application Contents", on},
          {"User Data Sandbox", off},
          {"Caches", off},
          {"Export Data…", off},
          {"Send Push…", off},
          {"Grant Permissions", off},
          {"Clear Launch Storyboard Cache", off},
          {"Launch", off},
          {"Uninstall…", off},
          {"Quit", hidden}}},
        {"the device is gone",
         [](auto &facts) {
             facts.deviceExists = false;
             facts.simulatorRuns = false;
         },
         {{"Application Contents", on},
          {"User Data Sandbox", hidden},
          {"Caches", off},
          {"Export Data…", hidden},
          {"Replace Data…", hidden},
          {"Erase Sandbox", hidden},
          {"Send Push…", hidden},
          {"Grant Permissions", off},
          {"Reset Permissions", off},
          {"Clear State Restoration Data (UIScene)", off},
          {"Clear Launch Storyboard Cache", off},
          {"Launch", hidden},
          {"Uninstall…", hidden},
          {"Quit", hidden}}},
        {"a watch",
         [](auto &facts) { facts.system = Runtime::System::watchOS; },
         {{"Send Push…", hiddenOn}, {"Launch", on}}},
        {"an Xcode without container listing, privacy and push",
         [](auto &facts) {
             facts.supportedCommands = {Command::launch, Command::uninstall, Command::quit};
         },
         {{"User Data Sandbox", off},
          {"Caches", off},
          {"Export Data…", on},
          {"Send Push…", off},
          {"Grant Permissions", off},
          {"Launch", on}}},
        {"the toolset is gone",
         [](auto &facts) { facts.hasToolset = false; },
         {{"Application Contents", off},
          {"Version 1.2 (34)", off},
          {"Caches", off},
          {"Launch", off},
          {"Grant Permissions", off}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from the same shown state.
        menu->refresh(running());
        auto facts = running();
        c.change(facts);
        menu->refresh(facts);
        const auto now = states();
        for (const auto &[title, expected] : c.expected) {
            ASSERT_TRUE(now.count(title)) << title.toStdString();
            EXPECT_EQ(now.at(title), expected) << title.toStdString();
        }
        if (facts.deviceExists) {
            // Exactly one of Launch and Quit shows while the device exists.
            EXPECT_NE(menu->launchItem()->isHidden(), menu->quitItem()->isHidden());
        }
        if (!facts.hasToolset) {
            for (const auto &item : menu->items())
                EXPECT_FALSE(item->isEnabled()) << item->title().toStdString();
        }
    }
}

TEST_F(ApplicationMenuTest, AnAppClipNamesItsBundleSo)
{
    const auto install = tree.installApp(
        phone, {.identifier = "com.example.foo.Clip", .name = "Foo Clip", .appClip = true});
    const auto clip = offMain([&] {
        return Application::make(QUrl::fromLocalFile(install.bundlePath), device(phone), toolset);
    });
    ASSERT_TRUE(clip);
    const auto menu = makeMenu(clip);
    EXPECT_EQ(menu->revealItem()->title(), "Application Contents");
    menu->refresh(menu->currentFacts());
    EXPECT_EQ(menu->revealItem()->title(), "App Clip Contents");
    EXPECT_TRUE(menu->revealItem()->isEnabled());
}

TEST_F(ApplicationMenuTest, RefreshAndMarkLandOnLaterTurnsFromTheSnapshot)
{
    const auto menu = makeMenu(foo);
    setRunning({phone}, {foo});
    menu->update();
    // Nothing yet: the refresh is one turn later, the mark one more.
    EXPECT_FALSE(menu->quitItem()->isHidden());
    EXPECT_EQ(menu->deviceItem()->state(), ControlState::Off);
    DispatchQueue::drainMain();
    ASSERT_TRUE(waitUntil([&] { return menu->deviceItem()->state() == ControlState::On; }));
    EXPECT_TRUE(menu->launchItem()->isHidden());
    EXPECT_FALSE(menu->quitItem()->isHidden());

    // The application stops; an open menu follows the next listing.
    menu->willOpen();
    setRunning({phone});
    ASSERT_TRUE(waitUntil([&] { return !menu->launchItem()->isHidden(); }));
    EXPECT_TRUE(menu->quitItem()->isHidden());
    menu->didClose();
}

TEST_F(ApplicationMenuTest, AnUnknownContainerIsListedOffTheMainThreadAndEnablesItsItemsLater)
{
    setRunning({phone});
    tree.setFault("get_app_container", {.delaySeconds = 6.0});
    const auto menu = makeMenu(foo);
    ASSERT_FALSE(foo->cachedDataContainer());

    QElapsedTimer timer;
    timer.start();
    menu->update();
    DispatchQueue::drainMain();
    // The refresh did not wait for simctl (a stall would take the delay).
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_FALSE(menu->exportItem()->isEnabled());
    EXPECT_FALSE(menu->sandboxItem()->isEnabled());
    EXPECT_TRUE(menu->launchItem()->isEnabled());

    // A second update while the listing runs starts no other one.
    menu->update();
    ASSERT_TRUE(waitUntil([&] { return menu->exportItem()->isEnabled(); }));
    EXPECT_TRUE(menu->sandboxItem()->isEnabled());
    EXPECT_TRUE(itemTitled(*menu, "Caches")->isEnabled());
    EXPECT_FALSE(itemTitled(*menu, "User Defaults")->isEnabled());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(simctlCalls().filter("get_app_container").size(), 1);

    // Known now: a later opening lists nothing.
    menu->update();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(simctlCalls().filter("get_app_container").size(), 1);
}

TEST_F(ApplicationMenuTest, GroupItemsComeOnceTheSimulatorRunsAndOnlyOnce)
{
    const auto menu = makeMenu(foo);
    const int index = menu->groupsIndex();
    const qsizetype count = menu->items().size();

    // Shut down: nothing is asked and the next opening tries again.
    menu->willOpen();
    menu->didClose();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(menu->groupsIndex(), index);
    EXPECT_EQ(menu->items().size(), size_t(count));

    setRunning({phone});
    menu->willOpen();
    EXPECT_EQ(menu->groupsIndex(), -1);
    ASSERT_TRUE(waitUntil([&] { return menu->items().size() == size_t(count) + 2; }));
    menu->didClose();
    const QStringList titles = itemTitles(menu->items());
    EXPECT_EQ(titles.mid(titles.indexOf("User Defaults") + 1, 3),
              QStringList({"group.example.a", "group.example.b", "-"}));
    const auto group = menu->items()[size_t(index)];
    const auto container = group->representedObject().as<Container>();
    ASSERT_TRUE(container);
    EXPECT_EQ(container->identifier(), "group.example.a");
    EXPECT_EQ(group->action(), "openContainer:");
    EXPECT_EQ(group->image(), ImageRef::symbol("arrow.left.arrow.right.square"));
    EXPECT_TRUE(group->isEnabled());

    // A group item follows the rules of the data container being known.
    auto facts = menu->currentFacts();
    facts.dataContainer = nullptr;
    menu->refresh(facts);
    EXPECT_FALSE(group->isEnabled());

    menu->willOpen();
    menu->didClose();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(menu->items().size(), size_t(count) + 2);
    EXPECT_EQ(simctlCalls().filter(QRegularExpression(" groups$")).size(), 1);
}

TEST_F(ApplicationMenuTest, TheHighlightedSimulatorMarkTurnsWhiteAndBack)
{
    const auto menu = makeMenu(foo, true);
    const auto accent = ImageRef::resource("On").tinted(ImageRef::TintColor::Accent);
    const auto white = ImageRef::resource("On").tinted(ImageRef::TintColor::White);
    EXPECT_EQ(menu->deviceItem()->onStateImage(), accent);
    EXPECT_EQ(menu->deviceItem()->offStateImage(), ImageRef::resource("Off"));

    menu->willHighlight(menu->deviceItem());
    EXPECT_EQ(menu->deviceItem()->onStateImage(), white);
    menu->willHighlight(menu->launchItem());
    EXPECT_EQ(menu->deviceItem()->onStateImage(), accent);
    menu->willHighlight(menu->deviceItem());
    menu->willHighlight(nullptr);
    EXPECT_EQ(menu->deviceItem()->onStateImage(), accent);
    EXPECT_EQ(menu->launchItem()->onStateImage(), ImageRef());
}

TEST_F(ApplicationMenuTest, WithoutSymbolsTheFoldersShowTheProgramsArt)
{
    ImageRef::setSymbolsEnabled(false);
    const auto menu = makeMenu(foo);
    ImageRef::setSymbolsEnabled(true);
    const QMarginsF above(0, 2, 0, 0);
    EXPECT_EQ(menu->revealItem()->image(), ImageRef::resource("Folder").padded(above));
    EXPECT_EQ(menu->sandboxItem()->image(), ImageRef::resource("Folder").padded(above));
    EXPECT_EQ(itemTitled(*menu, "Caches")->image(), ImageRef::resource("Folder - Small"));
    EXPECT_EQ(itemTitled(*menu, "User Defaults")->image(), ImageRef::resource("Plist - Small"));
    for (const char *name : {"Folder - Small", "Plist - Small", "AppGroup", "Notification"})
        EXPECT_TRUE(QFile::exists(QString(":/images/%1.svg").arg(name))) << name;
}
