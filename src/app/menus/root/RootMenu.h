#pragma once

#include "app/menus/SubmenuFactories.h"
#include "app/menus/device/DeviceMenuFactory.h"
#include "core/Observer.h"
#include "model/Runtime.h"
#include "platform/BuildGenerations.h"
#include "platform/menus/Menu.h"
#include "platform/hotkeys/ModifierSource.h"
#include "platform/hotkeys/OptionKeyPoller.h"
#include "platform/defaults/UserDefaults.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane {

class ActivityMonitor;
class Application;
class ApplicationMenuItem;
class CommandManager;
class Device;
class DispatchQueue;
class RecordingDevices;
class Toolset;
class WindowController;

// The status item's menu for one Xcode: its devices under runtime headers,
// the most recent builds, "Quick Repeat" and the program's own items. Made
// off the main thread, then used on the main thread only; device-list
// changes rebuild the items on the menu's own serial queue and set them on
// the main queue. What is shown, enabled and running is decided each time
// the menu is about to show (update), and again when Option changes while
// it is open.
class RootMenu : public Menu {
public:
    // What the menu works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<ModifierSource> modifiers;
        std::shared_ptr<ActivityMonitor> activityMonitor;
        std::shared_ptr<CommandManager> commandManager;
        std::shared_ptr<RecordingDevices> recordingDevices;
        DeviceMenuFactory deviceMenuFactory;
        // The submenus of the most recent builds.
        SubmenuFactories::ApplicationFactory applicationMenuFactory;
        std::shared_ptr<WindowController> gpsWindow;
        std::function<std::vector<Runtime>()> installedRuntimes;
        // The toolset's devices in display order; by default its device
        // watcher's current list, sorted.
        std::function<std::vector<std::shared_ptr<Device>>(const std::shared_ptr<Toolset> &)>
            devices;
    };

    static constexpr const char *queueLabelPrefix = "com.quendrith.corvane.rootmenu.";

    // The finished menu; runs on the caller's thread. Without a toolset the
    // menu lists no devices and offers to select an Xcode.
    static std::shared_ptr<RootMenu> make(const QString &title,
                                          const std::shared_ptr<Toolset> &toolset,
                                          Environment environment = {});
    ~RootMenu() override;

    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }
    std::shared_ptr<Device> recordingDevice() const;

    // Reads the activity monitor's last snapshot and never waits for ps;
    // while the menu is open, a newer snapshot runs the update again.
    void update() override;
    void willOpen() override;
    void didClose() override;
    void willHighlight(const MenuItemPtr &item) override;

    // Device rows by their device's UUID, read on the main thread so that a
    // build on another queue never reads a shown row.
    using ExistingRows = std::vector<std::pair<QUuid, MenuItemPtr>>;
    static ExistingRows existingRows(const std::vector<MenuItemPtr> &items);

    // The whole item array for these devices (in display order), reusing the
    // rows of `existingItems` by device UUID. Has no other effect.
    std::vector<MenuItemPtr> buildItems(const std::vector<std::shared_ptr<Device>> &devices,
                                        const std::vector<MenuItemPtr> &existingItems);
    std::vector<MenuItemPtr> buildItems(const std::vector<std::shared_ptr<Device>> &devices,
                                        const ExistingRows &existingRows);
    // On the main queue: rebuilds the device rows on the menu's queue.
    void deviceListDidChange();
    // The rows of the current item array that stand for devices, in order.
    std::vector<MenuItemPtr> deviceItems() const;
    // On the main queue, for a recording that started or ended.
    void recordingDidChange(const ObjectPtr &object);
    // The three newest builds of the toolset's devices under "Most Recent
    // Builds", each with its application menu; an unchanged list touches
    // nothing. On the main thread; asked for while the creator's thread still
    // fills the menu, it runs on the main queue after that fill.
    void refreshSubmenus();
    // Names the newest command whose target lives and, on a second line,
    // where it ran. On the main thread, as refreshSubmenus.
    void updateRedoItem();
    // The `count` applications with the newest bundles; among equal dates the
    // device shown first, then the title. A device's own newest builds are
    // kept until a notification says its list or one of its applications
    // changed, so a refresh reads only the devices that changed.
    std::vector<std::shared_ptr<Application>>
    newestApplications(const std::vector<std::shared_ptr<Device>> &devices, size_t count);
    // The shortcut stored under a hot key's defaults key as the item's key
    // equivalent.
    void updateKeyEquivalent(const QString &defaultsKey, const MenuItemPtr &item);

    // The menu's serial queue, made on the first device-list change.
    std::shared_ptr<DispatchQueue> queue();
    bool isPollingOptionKey() const { return m_poller.isRunning(); }

    MenuItemPtr notSeeingPromptItem() const { return m_notSeeingPromptItem; }
    MenuItemPtr stopRecordingBuffer() const { return m_stopRecordingBuffer; }
    MenuItemPtr stopRecordingItem() const { return m_stopRecordingItem; }
    MenuItemPtr diagnosticsItem() const { return m_diagnosticsItem; }
    MenuItemPtr noSimsShowAllItem() const { return m_noSimsShowAllItem; }
    MenuItemPtr noSimsItem() const { return m_noSimsItem; }
    MenuItemPtr recentApplicationsItem() const { return m_recentApplicationsItem; }
    MenuItemPtr noRecentItem() const { return m_noRecentItem; }
    const std::vector<std::shared_ptr<ApplicationMenuItem>> &recentItems() const
    {
        return m_recentItems;
    }
    MenuItemPtr redoTitleItem() const { return m_redoTitleItem; }
    MenuItemPtr redoItem() const { return m_redoItem; }
    MenuItemPtr deleteDDItem() const { return m_deleteDDItem; }
    MenuItemPtr trashPreviewsItem() const { return m_trashPreviewsItem; }
    MenuItemPtr manageItem() const { return m_manageItem; }
    MenuItemPtr activityItem() const { return m_activityItem; }
    MenuItemPtr aboutItem() const { return m_aboutItem; }
    MenuItemPtr helpItem() const { return m_helpItem; }
    MenuItemPtr preferencesItem() const { return m_preferencesItem; }
    MenuItemPtr quitItem() const { return m_quitItem; }
    MenuItemPtr gpsItem() const { return m_gpsItem; }

private:
    RootMenu(const QString &title, const std::shared_ptr<Toolset> &toolset,
             Environment environment);
    void setUp();
    void makeFixedItems();
    void registerObservers();
    void observeKeyEquivalents();
    MenuItemPtr makeDeviceRow(const std::shared_ptr<Device> &device,
                              const std::shared_ptr<Toolset> &toolset) const;
    std::vector<std::shared_ptr<Device>> currentDevices() const;
    static void rebuildDeviceItems(const std::weak_ptr<RootMenu> &menu, ExistingRows existingRows);

    void forgetNewestBuilds(const ObjectPtr &object);
    // True, noting the request, while the first fill runs.
    bool deferUntilFilled(bool RootMenu::*pending);
    void finishFirstFill();
    void fillRecentItems();
    void fillRedoItem();
    void clearRecentItems();
    void showRecentApplications(const std::vector<std::shared_ptr<Application>> &applications);

    void noSimulatorsFound();
    void trashPreviews(const ObjectPtr &sender);
    void redo(const ObjectPtr &sender);
    void stopRecording();
    void gps();

    Environment m_environment;
    std::weak_ptr<Toolset> m_toolset;
    ObserverCollection m_observers;
    std::vector<UserDefaults::ObservationPtr> m_kvoObservers;
    std::weak_ptr<Object> m_recordingDevice;
    std::shared_ptr<DispatchQueue> m_queue;
    BuildGenerations m_builds;
    // Registrations that last while the menu is open.
    ObserverCollection m_openObservers;

    MenuItemPtr m_notSeeingPromptItem;
    MenuItemPtr m_stopRecordingBuffer;
    MenuItemPtr m_stopRecordingItem;
    MenuItemPtr m_diagnosticsItem;
    MenuItemPtr m_noSimsShowAllItem;
    MenuItemPtr m_noSimsItem;
    MenuItemPtr m_recentApplicationsItem;
    MenuItemPtr m_noRecentItem;
    std::vector<std::shared_ptr<ApplicationMenuItem>> m_recentItems;
    // Per device, its newest builds (newest first) as last read.
    struct DeviceBuilds {
        std::weak_ptr<Device> device;
        std::vector<std::pair<qint64, std::shared_ptr<Application>>> newest;
    };
    std::unordered_map<const Device *, DeviceBuilds> m_newestBuilds;
    // The first fill of the recent rows and Quick Repeat runs where the menu
    // is built, off the main thread, and may wait for ps (the recent builds'
    // device menus); change notifications already arrive on the main queue.
    // The main thread never waits for that fill: what it asks for meanwhile
    // runs on the main queue after it. The mutex guards these flags only.
    std::mutex m_fillMutex;
    bool m_filled = false;
    bool m_submenusPending = false;
    bool m_redoPending = false;
    MenuItemPtr m_redoTitleItem;
    MenuItemPtr m_redoItem;
    MenuItemPtr m_deleteDDItem;
    MenuItemPtr m_trashPreviewsItem;
    MenuItemPtr m_manageItem;
    MenuItemPtr m_activityItem;
    MenuItemPtr m_aboutItem;
    MenuItemPtr m_helpItem;
    MenuItemPtr m_preferencesItem;
    MenuItemPtr m_quitItem;
    MenuItemPtr m_gpsItem;

    OptionKeyPoller m_poller;
    std::weak_ptr<MenuItem> m_lastItem;
};

} // namespace corvane
