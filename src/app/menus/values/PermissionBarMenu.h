#pragma once

#include "model/Application.h"
#include "platform/menus/Menu.h"

#include <QString>

#include <memory>

namespace corvane {

class CommandManager;
class Toolset;

// Grants, revokes or resets one privacy permission of one application: the
// thirteen services of `simctl privacy`, each item carrying its service.
// Built whole at once, wherever its application menu is filled.
class PermissionBarMenu : public Menu {
public:
    // Without a command manager, the program's own.
    static std::shared_ptr<PermissionBarMenu>
    make(const std::shared_ptr<Application> &application, Application::Permission permission,
         const std::shared_ptr<Toolset> &toolset,
         std::shared_ptr<CommandManager> commandManager = nullptr);

    std::shared_ptr<Application> application() const { return m_application; }
    Application::Permission permission() const { return m_permission; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }

    // The first letter of every word upper case, the rest lower case, where
    // any character that is no letter ends a word; then "-" becomes a blank.
    // Not locale-aware: "media-library" gives "Media Library".
    static QString titleCase(const QString &rawValue);
    // "Grant Permissions", "Revoke Permissions", "Reset Permissions".
    static QString menuTitle(Application::Permission permission);
    static QString itemTitle(Application::PermissionScope scope);
    // "Grant Photos (Write) Permission"; "Reset All Permissions".
    static QString commandTitle(Application::Permission permission, const QString &itemTitle,
                                Application::PermissionScope scope);

    // On the main thread: sets the permission for the sender item's service
    // on the user-initiated queue and records it for Quick Repeat.
    void apply(const ObjectPtr &sender);

private:
    PermissionBarMenu(const std::shared_ptr<Application> &application,
                      Application::Permission permission, const std::shared_ptr<Toolset> &toolset,
                      std::shared_ptr<CommandManager> commandManager);

    const std::shared_ptr<Application> m_application;
    const Application::Permission m_permission;
    const std::weak_ptr<Toolset> m_toolset;
    const std::shared_ptr<CommandManager> m_commandManager;
};

} // namespace corvane
