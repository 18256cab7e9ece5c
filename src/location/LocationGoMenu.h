#pragma once

#include "core/Observer.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/menus/Menu.h"

#include <memory>
#include <vector>

namespace corvane {

class LocationPresetRepository;

// The GPS window's "Go" menu: the location presets sorted by title, then
// "My Location", "Custom…" and "Manage Presets…". It follows the preset
// store: each saved change rebuilds the list, and the items are replaced one
// main-queue turn later. The preset, location and coordinate items send the
// go-to actions to the target given at creation; "Manage Presets…" opens the
// settings at the "locations" pane. Used on the main thread.
class LocationGoMenu : public Menu {
public:
    static constexpr const char *manageAction = "manage:";

    // Registers for the store's changes, then builds the items from
    // `repository` (the shared one when none is given).
    static std::shared_ptr<LocationGoMenu>
    make(const QString &title, const std::weak_ptr<ActionTarget> &goToTarget,
         std::shared_ptr<LocationPresetRepository> repository = nullptr);

    // The fixed items, made on first use and kept by every rebuild.
    MenuItemPtr currentLocationItem();
    MenuItemPtr manualLocationItem();
    MenuItemPtr manageItem();

    // The list as built from the store now.
    std::vector<MenuItemPtr> buildItems();

private:
    LocationGoMenu(const QString &title, const std::weak_ptr<ActionTarget> &goToTarget,
                   std::shared_ptr<LocationPresetRepository> repository);
    void presetsDidChange();
    MenuItemPtr goToItem(size_t index, const QString &title, const char *action,
                         const char *symbol);

    const std::weak_ptr<ActionTarget> m_goToTarget;
    const std::shared_ptr<LocationPresetRepository> m_repository;
    LazyMenuItems m_fixedItems{3};
    ObserverCollection m_observers;
};

} // namespace corvane
