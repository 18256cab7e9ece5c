#pragma once

#include "core/Observer.h"
#include "model/StatusBarPreset.h"
#include "platform/BuildGenerations.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/menus/Menu.h"

#include <QString>

#include <memory>
#include <vector>

namespace corvane {

class CommandManager;
class Device;
class StatusBarPresetRepository;
class Toolset;

// A device's submenu of status-bar presets: picking one overrides the
// device's status bar with it; "Reset to Default" clears the override and
// "Manage Presets…" opens the settings at the status-bar pane. The items
// follow the preset store: every saved change rebuilds them on the main
// thread.
class StatusBarMenu : public Menu {
public:
    // What the menu works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<StatusBarPresetRepository> repository;
        std::shared_ptr<CommandManager> commandManager;
    };

    static constexpr const char *managedPane = "statusBar";

    static std::shared_ptr<StatusBarMenu> make(const std::shared_ptr<Device> &device,
                                               const std::shared_ptr<Toolset> &toolset,
                                               Environment environment = {});

    std::shared_ptr<Device> device() const { return m_device; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }

    // The presets by title (stable), or a disabled "No Presets"; a separator
    // and the two fixed items.
    std::vector<MenuItemPtr> buildItems(std::vector<StatusBarPresetPtr> presets);

    MenuItemPtr resetStatusBarItem();
    MenuItemPtr manageItem();

    // The actions, on the main thread; the device calls and the record run
    // on the user-initiated queue.
    void preset(const ObjectPtr &sender);
    void resetStatus(const ObjectPtr &sender);
    void manage(const ObjectPtr &sender);

private:
    StatusBarMenu(const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
                  Environment environment);
    void setUp();
    MenuItemPtr fixedItem(size_t index, const QString &title, const QString &action);
    // Reads the store and sets the items unless a later reading was set.
    void rebuild();

    const std::shared_ptr<Device> m_device;
    const std::weak_ptr<Toolset> m_toolset;
    Environment m_environment;
    ObserverCollection m_observers;
    BuildGenerations m_builds;
    LazyMenuItems m_fixedItems{2};
};

} // namespace corvane
