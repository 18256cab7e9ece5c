#include "app/menus/values/UnsplashMenu.h"

#include "app/menus/CommandManager.h"
#include "app/menus/DeviceActionSupport.h"
#include "core/TaskService.h"
#include "model/Device.h"

#include <vector>

namespace corvane {

std::shared_ptr<UnsplashMenu> UnsplashMenu::make(const std::shared_ptr<Device> &device,
                                                 const std::shared_ptr<Toolset> &toolset,
                                                 Environment environment)
{
    if (!device)
        return nullptr;
    std::shared_ptr<UnsplashMenu> menu(new UnsplashMenu(device, toolset, std::move(environment)));
    menu->setUp();
    return menu;
}

UnsplashMenu::UnsplashMenu(const std::shared_ptr<Device> &device,
                           const std::shared_ptr<Toolset> &toolset, Environment environment)
    : Menu(QStringLiteral("Unsplash")), m_device(device), m_toolset(toolset),
      m_environment(std::move(environment))
{
    if (!m_environment.commandManager)
        m_environment.commandManager = CommandManager::shared();
    addAction("unsplash:", [this](const ObjectPtr &sender) { unsplash(sender); });
}

const QStringList &UnsplashMenu::searchTerms()
{
    static const QStringList terms{"animal",   "architecture", "business",  "food",
                                   "interior", "minimal",      "nature",    "plant",
                                   "portrait", "space",        "technology"};
    return terms;
}

QString UnsplashMenu::itemTitle(const QString &searchTerm)
{
    if (searchTerm.isEmpty())
        return searchTerm;
    // The first character may take two UTF-16 units.
    const qsizetype first = searchTerm.at(0).isHighSurrogate() && searchTerm.size() > 1 ? 2 : 1;
    return searchTerm.left(first).toUpper() + searchTerm.mid(first);
}

void UnsplashMenu::setUp()
{
    std::vector<MenuItemPtr> items;
    const auto target = weakAs<UnsplashMenu>();
    for (const QString &term : searchTerms()) {
        auto item = MenuItem::make(itemTitle(term), QStringLiteral("unsplash:"));
        item->setTarget(target);
        item->setRepresentedObject(term);
        items.push_back(std::move(item));
    }
    setItems(std::move(items));
}

void UnsplashMenu::unsplash(const ObjectPtr &sender)
{
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    if (!item)
        return;
    const auto term = item->representedObject().as<QString>();
    if (!term)
        return;
    const QString commandTitle = QStringLiteral("Unsplash “") +
                                 DeviceActionSupport::commandTitle(sender) + QStringLiteral("”");
    DeviceActionSupport::inBackground([device = m_device, term = *term, commandTitle,
                                       tasks = m_environment.tasks,
                                       commands = m_environment.commandManager] {
        (tasks ? tasks : TaskService::shared())->startUnsplashTask(term, device);
        DeviceActionSupport::recordDeviceCommand(
            *commands, device, commandTitle, QStringLiteral("unsplashFor:"), term,
            [](Device &device, const CommandManager::Argument &argument) {
                if (const auto *searchTerm = std::get_if<QString>(&argument))
                    device.unsplashFor(*searchTerm);
            });
    });
}

} // namespace corvane
