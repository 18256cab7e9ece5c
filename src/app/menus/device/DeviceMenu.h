#pragma once

#include "app/menus/SubmenuFactories.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "model/Runtime.h"
#include "platform/BuildGenerations.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/menus/Menu.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <vector>

namespace corvane {

class ActivityMonitor;
class Application;
class CommandManager;
class Device;

// The submenu of one simulated device: its applications, the capture,
// pasteboard, appearance and data items, the lifecycle items that fit its
// state, and its paired devices. Made on any thread, then handed to the main
// thread by its creator, where every later rebuild and update runs. Fixed
// items are made on first use and kept for the menu's life, so each rebuild
// places the same objects again.
class DeviceMenu : public Menu {
public:
    // What the menu works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<ActivityMonitor> activityMonitor;
        std::shared_ptr<CommandManager> commandManager;
        SubmenuFactories submenus;
    };

    // What the update rules decide from.
    struct Facts {
        bool hasToolset = true;
        bool running = false;
        std::vector<Toolset::Command> supportedCommands;
        Runtime runtime{Runtime::System::iOS, {}};
        bool recording = false;
        // Whether another device (an application's, when it is not this
        // menu's) runs; by default never.
        std::function<bool(const QUuid &device)> isRunning;

        bool supports(Toolset::Command command) const;
    };

    static std::shared_ptr<DeviceMenu> make(const std::shared_ptr<Device> &device,
                                            const std::shared_ptr<Toolset> &toolset,
                                            bool shouldShowApplicationSubmenus,
                                            bool shouldShowPairedDevicesSubmenus,
                                            Environment environment = {});
    ~DeviceMenu() override;

    std::shared_ptr<Device> device() const { return m_device; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }
    bool shouldShowApplicationSubmenus() const { return m_shouldShowApplicationSubmenus; }
    bool shouldShowPairedDevicesSubmenus() const { return m_shouldShowPairedDevicesSubmenus; }
    const Environment &environment() const { return m_environment; }

    // The whole item array: application rows (reusing those of
    // `existingItems` by application), the fixed items, the paired devices.
    // Runs on the caller's thread.
    std::vector<MenuItemPtr>
    buildItems(const std::vector<std::shared_ptr<Application>> &applications,
               const std::vector<MenuItemPtr> &existingItems);
    // On the main queue: rebuilds the application rows two main-queue turns
    // later, keeping the rows of applications still installed.
    void applicationListDidChange(const ObjectPtr &object);

    // Applies the rules one main-queue turn later, from the activity
    // monitor's last snapshot; while the menu is open, a newer snapshot
    // applies them again.
    void update() override;
    void willOpen() override;
    void didClose() override;
    // The rules, applied now.
    void applyRules(const Facts &facts);
    // The facts as they are now, running states from the last snapshot.
    Facts currentFacts() const;

    // "at least" in the numeric order of versions: the comparison does not
    // come out as ascending.
    static bool isVersionAtLeast(const QString &version, const QString &minimum);
    // iOS, or tvOS from 15.0 on, can open URLs.
    static bool opensURLs(const Runtime &runtime);

    MenuItemPtr deviceFolder();
    MenuItemPtr launchItem();
    MenuItemPtr unsplashItem();
    MenuItemPtr statusBarItem();
    MenuItemPtr touchesItem();
    MenuItemPtr openRecentURLItem();
    MenuItemPtr openURLItem();
    MenuItemPtr eraseItem();
    MenuItemPtr eraseKeychainItem();
    MenuItemPtr installItem();
    MenuItemPtr addMediaItem();
    MenuItemPtr copyItem();
    MenuItemPtr pasteItem();
    MenuItemPtr shutdownItem();
    MenuItemPtr screenshotItem();
    MenuItemPtr copyScreenshotItem();
    MenuItemPtr recordVideoItem();
    MenuItemPtr stopRecordingItem();
    MenuItemPtr deleteItem();
    MenuItemPtr appearanceDivide();
    MenuItemPtr contentSizeItem();
    MenuItemPtr appearanceItem();
    MenuItemPtr pairedDevicesItem();
    MenuItemPtr independentItem();

    // The lifecycle actions, on the main thread; the work runs on the
    // user-initiated queue.
    void autoAction(const ObjectPtr &sender);
    void launch(const ObjectPtr &sender);
    void install(const ObjectPtr &sender);
    void addMedia(const ObjectPtr &sender);
    void deviceData(const ObjectPtr &sender);
    void eraseKeychain(const ObjectPtr &sender);
    void erase(const ObjectPtr &sender);
    void deleteDevice(const ObjectPtr &sender);
    void shutdown(const ObjectPtr &sender);

    // The capture, pasteboard and URL actions, recorded for Quick Repeat.
    void copy(const ObjectPtr &sender);
    void paste(const ObjectPtr &sender);
    void openURL(const ObjectPtr &sender);
    void screenshot(const ObjectPtr &sender);
    void copyScreenshot(const ObjectPtr &sender);
    void record(const ObjectPtr &sender);
    void stopRecording(const ObjectPtr &sender);
    void bringToFront(const ObjectPtr &sender);
    void openBundle(const ObjectPtr &sender);
    // Re-tints the on-state image of application rows: white under the
    // highlight, the accent colour again once it moves on.
    void willHighlight(const MenuItemPtr &item) override;

private:
    DeviceMenu(const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
               bool shouldShowApplicationSubmenus, bool shouldShowPairedDevicesSubmenus,
               Environment environment);
    void setUp();
    void registerActions();
    void registerCaptureActions();
    // Performs and records the operation when the simulator runs.
    void performWhenRunning(const ObjectPtr &sender, const QString &selector,
                            void (Device::*operation)());

    enum class Field {
        deviceFolder,
        launchItem,
        unsplashItem,
        statusBarItem,
        touchesItem,
        openRecentURLItem,
        openURLItem,
        eraseItem,
        eraseKeychainItem,
        installItem,
        addMediaItem,
        copyItem,
        pasteItem,
        shutdownItem,
        screenshotItem,
        copyScreenshotItem,
        recordVideoItem,
        stopRecordingItem,
        deleteItem,
        appearanceDivide,
        contentSizeItem,
        appearanceItem,
        pairedDevicesItem,
        independentItem,
        count
    };
    MenuItemPtr lazyItem(Field field);
    MenuItemPtr makeItem(Field field);
    MenuItemPtr makeApplicationRow(const std::shared_ptr<Application> &application,
                                   const std::shared_ptr<Toolset> &toolset);
    void appendPairedDevices(std::vector<MenuItemPtr> &items,
                             const std::shared_ptr<Toolset> &toolset);
    // On the main thread: from the last snapshot, never waiting for ps.
    bool simulatorRuns() const;
    // The open panel of install: and addMedia:, then the simctl verb.
    void sendFile(bool application);

    const std::shared_ptr<Device> m_device;
    const std::weak_ptr<Toolset> m_toolset;
    const bool m_shouldShowApplicationSubmenus;
    const bool m_shouldShowPairedDevicesSubmenus;
    Environment m_environment;
    ObserverCollection m_observers;
    // Registrations that last while the menu is open.
    ObserverCollection m_openObservers;
    BuildGenerations m_builds;
    LazyMenuItems m_fields{size_t(Field::count)};
    // The application row last tinted white; main thread only.
    MenuItemPtr m_lastItem;
};

} // namespace corvane
