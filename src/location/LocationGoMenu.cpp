#include "location/LocationGoMenu.h"

#include "location/GoToActions.h"
#include "location/LocationPreset.h"
#include "location/LocationPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/desktop/SettingsOpener.h"

namespace corvane {

namespace {

enum FixedItem : size_t { currentLocation, manualLocation, manage };

} // namespace

std::shared_ptr<LocationGoMenu>
LocationGoMenu::make(const QString &title, const std::weak_ptr<ActionTarget> &goToTarget,
                     std::shared_ptr<LocationPresetRepository> repository)
{
    if (!repository)
        repository = LocationPresetRepository::shared();
    std::shared_ptr<LocationGoMenu> menu(
        new LocationGoMenu(title, goToTarget, std::move(repository)));
    std::weak_ptr<LocationGoMenu> weak = menu;
    menu->m_observers.append(observeNotification(LocationPresetRepository::didChange,
                                                 DispatchQueue::main(),
                                                 [weak](const Notification &, const ObjectPtr &) {
                                                     if (auto self = weak.lock())
                                                         self->presetsDidChange();
                                                 }));
    menu->setItems(menu->buildItems());
    return menu;
}

LocationGoMenu::LocationGoMenu(const QString &title, const std::weak_ptr<ActionTarget> &goToTarget,
                               std::shared_ptr<LocationPresetRepository> repository)
    : Menu(title), m_goToTarget(goToTarget), m_repository(std::move(repository))
{
    addAction(manageAction, [](const ObjectPtr &) { SettingsOpener::showPane("locations"); });
}

MenuItemPtr LocationGoMenu::goToItem(size_t index, const QString &title, const char *action,
                                     const char *symbol)
{
    return m_fixedItems.get(index, [&] {
        auto item = MenuItem::make(title, action);
        item->setTarget(m_goToTarget);
        item->setImage(ImageRef::symbol(symbol));
        return item;
    });
}

MenuItemPtr LocationGoMenu::currentLocationItem()
{
    return goToItem(currentLocation, loc("My Location", "GPS_MY_LOCATION_ITEM_TITLE"),
                    GoToActions::gotoCurrentLocationAction, "location.fill");
}

MenuItemPtr LocationGoMenu::manualLocationItem()
{
    return goToItem(manualLocation, loc("Custom…", "GPS_MANUAL_LOCATION_ITEM_TITLE"),
                    GoToActions::gotoManualCoordinateAction, "keyboard.fill");
}

MenuItemPtr LocationGoMenu::manageItem()
{
    return m_fixedItems.get(manage, [this] {
        auto item = MenuItem::make(loc("Manage Presets…", "GPS_PRESETS_ITEM_TITLE"), manageAction);
        item->setTarget(weakAs<ActionTarget>());
        return item;
    });
}

std::vector<MenuItemPtr> LocationGoMenu::buildItems()
{
    std::vector<MenuItemPtr> items{MenuItem::separator()};
    std::vector<LocationPresetPtr> presets = m_repository->presets();
    if (presets.empty()) {
        auto none = MenuItem::make(QStringLiteral("No Presets"));
        none->setEnabled(false);
        items.push_back(none);
    }
    LocationPreset::sortByTitle(presets);
    for (const auto &preset : presets) {
        auto item = MenuItem::make(preset->title(), GoToActions::gotoLocationPresetAction);
        item->setTarget(m_goToTarget);
        item->setRepresentedObject(preset);
        items.push_back(item);
    }
    items.push_back(MenuItem::separator());
    items.push_back(currentLocationItem());
    items.push_back(manualLocationItem());
    items.push_back(MenuItem::separator());
    items.push_back(manageItem());
    return items;
}

void LocationGoMenu::presetsDidChange()
{
    std::vector<MenuItemPtr> items = buildItems();
    std::weak_ptr<LocationGoMenu> weak = weakAs<LocationGoMenu>();
    DispatchQueue::main()->async([weak, items = std::move(items)]() mutable {
        if (auto self = weak.lock())
            self->setItems(std::move(items));
    });
}

} // namespace corvane
