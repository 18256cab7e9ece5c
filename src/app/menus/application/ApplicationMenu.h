#pragma once

#include "app/menus/SubmenuFactories.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "model/Container.h"
#include "model/Runtime.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/menus/Menu.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class ActivityMonitor;
class Application;
class CommandManager;

// The submenu of one installed application on one simulated device: its
// device's menu (for the recent builds), its bundle and data folders, its
// app groups, export and replacement of its data, a push notification, its
// privacy permissions, clearing saved state, its version, Launch, Uninstall
// and Quit.
//
// Made on any thread at the cost of a few fields: the items are made on the
// main thread when the menu first opens, so that thousands of rows can carry
// one. The fixed items are made on first use and kept, also outside the menu.
// Nothing it shows is asked of a tool on the main thread: running states come
// from the activity monitor's last snapshot, the data container is used once
// known and listed on the user-initiated queue while it is not.
class ApplicationMenu : public Menu {
public:
    // What the menu works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<ActivityMonitor> activityMonitor;
        std::shared_ptr<CommandManager> commandManager;
        // For the device menu of the "Simulator" item.
        SubmenuFactories submenus;
    };

    // What the refresh decides from.
    struct Facts {
        bool hasToolset = true;
        bool deviceExists = false;
        bool simulatorRuns = false;
        bool applicationRuns = false;
        Runtime::System system = Runtime::System::iOS;
        std::vector<Toolset::Command> supportedCommands;
        // The data container once known (its folder exists), else nothing.
        std::shared_ptr<Container> dataContainer;

        bool supports(Toolset::Command command) const;
    };

    static std::shared_ptr<ApplicationMenu> make(const std::shared_ptr<Application> &application,
                                                 const std::shared_ptr<Toolset> &toolset,
                                                 bool shouldShowDeviceSubmenu,
                                                 Environment environment = {});
    ~ApplicationMenu() override;

    std::shared_ptr<Application> application() const { return m_application; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }
    bool shouldShowDeviceSubmenu() const { return m_shouldShowDeviceSubmenu; }
    const Environment &environment() const { return m_environment; }

    // Where the app-group items go; -1 before the items are made and once
    // they have been asked for. Main thread.
    int groupsIndex() const { return m_groupsIndex; }

    // "Version 1.2 (34)".
    static QString versionText(const Application &application);

    // The last push payload the user confirmed, as typed; shared by every
    // application menu for the program's life. Main thread only.
    static QString lastPushPayload();
    static void setLastPushPayload(const QString &payload);

    MenuItemPtr exportItem();
    MenuItemPtr deviceItem();
    MenuItemPtr deviceDivideItem();
    MenuItemPtr replaceItem();
    MenuItemPtr eraseItem();
    MenuItemPtr revealItem();
    MenuItemPtr sandboxItem();
    MenuItemPtr uninstallItem();
    MenuItemPtr sendPushItem();
    MenuItemPtr launchItem();
    MenuItemPtr versionItem();
    MenuItemPtr eraseSceneItem();
    MenuItemPtr eraseStoryboardCacheItem();
    MenuItemPtr quitItem();

    // Refreshes one main-queue turn later and sets the running mark one turn
    // after that; while the menu is open, a newer process snapshot refreshes
    // it again.
    void update() override;
    // The app-group items, once, the first time the menu opens while the
    // simulator runs: listed on the user-initiated queue, inserted on main.
    void willOpen() override;
    void didClose() override;
    // The "Simulator" item's mark turns white while it is highlighted.
    void willHighlight(const MenuItemPtr &item) override;

    // The facts as they are now: running states from the last snapshot, the
    // data container only when already known. Never runs a tool.
    Facts currentFacts() const;
    // Which items show and which are enabled, applied now.
    void refresh(const Facts &facts);
    // The "Simulator" item's state: on while the device's simulator runs.
    void setRunningMark(const Facts &facts);
    // On the main queue: a new version text when the application is this
    // menu's.
    void applicationDidUpdate(const ObjectPtr &object);

    // The actions below by their selectors ("launch:", "export:", …).
    bool perform(const QString &selector, const ObjectPtr &sender) override;

    // The actions, on the main thread; their work runs on the user-initiated
    // queue.
    void launch(const ObjectPtr &sender);
    void quit(const ObjectPtr &sender);
    void uninstall(const ObjectPtr &sender);
    void open(const ObjectPtr &sender);
    void openContainer(const ObjectPtr &sender);
    void openContainerShortcut(const ObjectPtr &sender);
    void eraseState(const ObjectPtr &sender);
    void eraseLaunchStoryboardCache(const ObjectPtr &sender);
    void eraseData(const ObjectPtr &sender);
    void push(const ObjectPtr &sender);
    void exportData(const ObjectPtr &sender);
    void replace(const ObjectPtr &sender);
    void autoAction(const ObjectPtr &sender);
    void boot(const ObjectPtr &sender);

    // A name the user chose for an archive, ending in ".xcappdata".
    static QString archivePath(const QString &chosen);

private:
    ApplicationMenu(const std::shared_ptr<Application> &application,
                    const std::shared_ptr<Toolset> &toolset, bool shouldShowDeviceSubmenu,
                    Environment environment);
    void populate();

    enum class Field {
        exportItem,
        deviceItem,
        deviceDivideItem,
        replaceItem,
        eraseItem,
        revealItem,
        sandboxItem,
        uninstallItem,
        sendPushItem,
        launchItem,
        versionItem,
        eraseSceneItem,
        eraseStoryboardCacheItem,
        quitItem,
        count
    };
    MenuItemPtr lazyItem(Field field);
    MenuItemPtr makeItem(Field field);
    MenuItemPtr makeDeviceItem();
    MenuItemPtr makeShortcutItem(Container::Location location);
    MenuItemPtr makePermissionItem(int permission);
    MenuItemPtr makeGroupItem(const std::shared_ptr<Container> &container, bool enabled);

    // The refresh, and when the data container is unknown and may be
    // listed, one listing at a time that refreshes again when it returns.
    void refreshNow(bool mayListContainer);
    void listDataContainer(const Facts &facts);
    void insertGroupItems(int index, const std::vector<std::shared_ptr<Container>> &groups);

    // Main-thread answers from the last snapshot.
    bool simulatorRuns() const;
    bool applicationRuns() const;
    // The perform-and-record of launch, quit and the two erasures.
    using Operation = void (Application::*)();
    void performAndRecord(const ObjectPtr &sender, const QString &selector, Operation operation);

    const std::shared_ptr<Application> m_application;
    const std::weak_ptr<Toolset> m_toolset;
    const bool m_shouldShowDeviceSubmenu;
    Environment m_environment;
    ObserverCollection m_observers;
    // Registrations that last while the menu is open.
    ObserverCollection m_openObservers;
    LazyMenuItems m_fields{size_t(Field::count)};
    int m_groupsIndex = -1;
    MenuItemPtr m_lastItem;
    bool m_listingContainer = false;
};

} // namespace corvane
