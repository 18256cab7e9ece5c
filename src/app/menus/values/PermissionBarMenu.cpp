#include "app/menus/values/PermissionBarMenu.h"

#include "app/menus/ApplicationCommands.h"
#include "app/menus/CommandManager.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/MenuItem.h"

namespace corvane {

namespace {

QString selector(Application::Permission permission)
{
    switch (permission) {
    case Application::Permission::grant: return QStringLiteral("grantPermissionTo:");
    case Application::Permission::revoke: return QStringLiteral("revokePermissionTo:");
    case Application::Permission::reset: return QStringLiteral("resetPermissionTo:");
    }
    return {};
}

} // namespace

QString PermissionBarMenu::titleCase(const QString &rawValue)
{
    QString result;
    result.reserve(rawValue.size());
    bool wordStart = true;
    for (const QChar c : rawValue) {
        if (c.isLetter()) {
            result += wordStart ? c.toUpper() : c.toLower();
            wordStart = false;
        } else {
            result += c == u'-' ? QChar(u' ') : c;
            wordStart = true;
        }
    }
    return result;
}

QString PermissionBarMenu::menuTitle(Application::Permission permission)
{
    return titleCase(Application::rawValue(permission)) + QStringLiteral(" Permissions");
}

QString PermissionBarMenu::itemTitle(Application::PermissionScope scope)
{
    using Scope = Application::PermissionScope;
    switch (scope) {
    case Scope::contactslimited: return QStringLiteral("Contacts (Limited)");
    case Scope::locationalways: return QStringLiteral("Location (Always)");
    case Scope::photos: return QStringLiteral("Photos (Read)");
    case Scope::photosadd: return QStringLiteral("Photos (Write)");
    default: return titleCase(Application::rawValue(scope));
    }
}

QString PermissionBarMenu::commandTitle(Application::Permission permission,
                                        const QString &itemTitle,
                                        Application::PermissionScope scope)
{
    QString text = titleCase(Application::rawValue(permission)) + ' ' + itemTitle + " Permission";
    if (scope == Application::PermissionScope::all)
        text += 's';
    return text;
}

std::shared_ptr<PermissionBarMenu>
PermissionBarMenu::make(const std::shared_ptr<Application> &application,
                        Application::Permission permission, const std::shared_ptr<Toolset> &toolset,
                        std::shared_ptr<CommandManager> commandManager)
{
    if (!application)
        return nullptr;
    std::shared_ptr<PermissionBarMenu> menu(new PermissionBarMenu(
        application, permission, toolset,
        commandManager ? std::move(commandManager) : CommandManager::shared()));
    std::vector<MenuItemPtr> items;
    items.reserve(Application::allPermissionScopes().size());
    for (const auto scope : Application::allPermissionScopes()) {
        auto item = MenuItem::make(itemTitle(scope), QStringLiteral("apply:"));
        item->setTarget(menu->weakAs<PermissionBarMenu>());
        item->setRepresentedObject(scope);
        items.push_back(std::move(item));
    }
    menu->setItems(std::move(items));
    return menu;
}

PermissionBarMenu::PermissionBarMenu(const std::shared_ptr<Application> &application,
                                     Application::Permission permission,
                                     const std::shared_ptr<Toolset> &toolset,
                                     std::shared_ptr<CommandManager> commandManager)
    : Menu(menuTitle(permission)), m_application(application), m_permission(permission),
      m_toolset(toolset), m_commandManager(std::move(commandManager))
{
    addAction(QStringLiteral("apply:"), [this](const ObjectPtr &sender) { apply(sender); });
}

void PermissionBarMenu::apply(const ObjectPtr &sender)
{
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    if (!item)
        return;
    const auto scope = item->representedObject().as<Application::PermissionScope>();
    if (!scope)
        return;
    auto action = CommandManager::actionRecord(sender);
    action.title = commandTitle(m_permission, item->title(), *scope);
    DispatchQueue::userInitiated()->async([application = m_application, commands = m_commandManager,
                                           permission = m_permission, scope = *scope, action] {
        application->setPermission(permission, scope);
        ApplicationCommands::record(*commands, action, application, selector(permission),
                                    Application::rawValue(scope));
    });
}

} // namespace corvane
