#pragma once

#include "app/menus/CommandManager.h"

#include <QString>

#include <memory>
#include <optional>

namespace corvane {

class Application;

// The repeatable commands of the application and permission menus: each
// record performs the same Application operation again on its target.
namespace ApplicationCommands {

// The application operation a selector names ("launch", "terminate",
// "eraseSavedState", "eraseLaunchStoryboard", "sendPushWithPayload:",
// "repeatExportDataWithPrevious:", "importDataFrom:",
// "eraseSandboxWithFileManager:error:", "grantPermissionTo:",
// "revokePermissionTo:", "resetPermissionTo:"); nothing for any other.
CommandManager::Invoker invoker(const QString &selector);

// Records the command unless the action is itself a repeat.
void record(CommandManager &commands, const CommandManager::ActionRecord &action,
            const std::shared_ptr<Application> &application, const QString &selector,
            std::optional<CommandManager::Argument> argument = std::nullopt);

} // namespace ApplicationCommands
} // namespace corvane
