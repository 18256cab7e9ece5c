#include "app/menus/values/StatusBarMenu.h"

#include "app/menus/CommandManager.h"
#include "app/menus/DeviceActionSupport.h"
#include "app/menus/MenuHost.h"
#include "model/Device.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "settings/Settings.h"

namespace corvane {

namespace {

enum FixedItem : size_t { resetItem, manageItemIndex };

const QString kCommandPrefix = QStringLiteral("Status Bar: ");

} // namespace

std::shared_ptr<StatusBarMenu> StatusBarMenu::make(const std::shared_ptr<Device> &device,
                                                   const std::shared_ptr<Toolset> &toolset,
                                                   Environment environment)
{
    if (!device)
        return nullptr;
    std::shared_ptr<StatusBarMenu> menu(new StatusBarMenu(device, toolset, std::move(environment)));
    menu->setUp();
    return menu;
}

StatusBarMenu::StatusBarMenu(const std::shared_ptr<Device> &device,
                             const std::shared_ptr<Toolset> &toolset, Environment environment)
    : Menu(QStringLiteral("Status Bar")), m_device(device), m_toolset(toolset),
      m_environment(std::move(environment))
{
    if (!m_environment.repository)
        m_environment.repository = StatusBarPresetRepository::shared();
    if (!m_environment.commandManager)
        m_environment.commandManager = CommandManager::shared();
    addAction("preset:", [this](const ObjectPtr &sender) { preset(sender); });
    addAction("resetStatus:", [this](const ObjectPtr &sender) { resetStatus(sender); });
    addAction("manage:", [this](const ObjectPtr &sender) { manage(sender); });
}

void StatusBarMenu::setUp()
{
    // Registered before the store is read: a save that lands while the first
    // items are built rebuilds them afterwards.
    m_observers.append(observeNotification(
        StatusBarPresetRepository::didChange, DispatchQueue::main(),
        [weak = weakAs<StatusBarMenu>()](const Notification &, const ObjectPtr &) {
            if (auto menu = weak.lock())
                menu->rebuild();
        }));
    rebuild();
}

void StatusBarMenu::rebuild()
{
    const auto build = m_builds.begin();
    auto items = buildItems(m_environment.repository->presets());
    m_builds.applyIfNewest(build, [&] { setItems(std::move(items)); });
}

std::vector<MenuItemPtr> StatusBarMenu::buildItems(std::vector<StatusBarPresetPtr> presets)
{
    std::vector<MenuItemPtr> items;
    items.reserve(presets.size() + 4);
    if (presets.empty()) {
        auto none = MenuItem::make(QStringLiteral("No Presets"));
        none->setEnabled(false);
        items.push_back(std::move(none));
    }
    StatusBarPreset::sortByTitle(presets);
    const auto target = weakAs<StatusBarMenu>();
    for (const auto &preset : presets) {
        auto item = MenuItem::make(preset->title(), QStringLiteral("preset:"));
        item->setTarget(target);
        item->setRepresentedObject(preset);
        items.push_back(std::move(item));
    }
    items.push_back(MenuItem::separator());
    items.push_back(resetStatusBarItem());
    items.push_back(manageItem());
    return items;
}

MenuItemPtr StatusBarMenu::resetStatusBarItem()
{
    return fixedItem(resetItem, loc("Reset to Default", "DEFAULT_STATUS_ITEM_TITLE"),
                     QStringLiteral("resetStatus:"));
}

MenuItemPtr StatusBarMenu::manageItem()
{
    return fixedItem(manageItemIndex, loc("Manage Presets…", "KEYNOTE_STATUS_ITEM_TITLE"),
                     QStringLiteral("manage:"));
}

MenuItemPtr StatusBarMenu::fixedItem(size_t index, const QString &title, const QString &action)
{
    return m_fixedItems.get(index, [&] {
        auto item = MenuItem::make(title, action);
        item->setTarget(weakAs<StatusBarMenu>());
        return item;
    });
}

void StatusBarMenu::preset(const ObjectPtr &sender)
{
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    if (!item)
        return;
    const auto chosen = item->representedObject().as<StatusBarPreset>();
    if (!chosen)
        return;
    const QString title = kCommandPrefix + DeviceActionSupport::commandTitle(sender);
    DeviceActionSupport::inBackground(
        [device = m_device, chosen, title, commands = m_environment.commandManager] {
            device->setStatusBarUsing(*chosen);
            // A repeat applies the same preset, with whatever values it holds
            // by then.
            DeviceActionSupport::recordDeviceCommand(
                *commands, device, title, QStringLiteral("setStatusBarUsing:"), ObjectPtr(chosen),
                [](Device &device, const CommandManager::Argument &argument) {
                    const auto *object = std::get_if<ObjectPtr>(&argument);
                    if (const auto preset =
                            object ? std::dynamic_pointer_cast<StatusBarPreset>(*object) : nullptr)
                        device.setStatusBarUsing(*preset);
                });
        });
}

void StatusBarMenu::resetStatus(const ObjectPtr &sender)
{
    const QString title = kCommandPrefix + DeviceActionSupport::commandTitle(sender);
    DeviceActionSupport::inBackground([device = m_device, title,
                                       commands = m_environment.commandManager] {
        DeviceActionSupport::performAndRecord(
            *commands, device, title, QStringLiteral("resetStatusBar"), &Device::resetStatusBar);
    });
}

void StatusBarMenu::manage(const ObjectPtr &)
{
    if (auto host = MenuHost::current())
        host->showPreferencesPane(Settings::PaneIdentifier{QString::fromLatin1(managedPane)});
}

} // namespace corvane
