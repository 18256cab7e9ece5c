#include "app/menus/ApplicationCommands.h"

#include "model/Application.h"
#include "platform/files/FileManager.h"
#include "platform/Log.h"

#include <exception>
#include <map>

namespace corvane::ApplicationCommands {

namespace {

using Argument = CommandManager::Argument;
using Simple = void (Application::*)();
using WithText = void (Application::*)(const QString &);
using WithUrl = void (Application::*)(const QUrl &);

CommandManager::Invoker simple(Simple operation)
{
    return [operation](const ObjectPtr &target, const std::optional<Argument> &) {
        if (const auto application = std::dynamic_pointer_cast<Application>(target))
            ((*application).*operation)();
    };
}

CommandManager::Invoker withText(WithText operation)
{
    return [operation](const ObjectPtr &target, const std::optional<Argument> &argument) {
        const auto application = std::dynamic_pointer_cast<Application>(target);
        const QString *text = argument ? std::get_if<QString>(&*argument) : nullptr;
        if (application && text)
            ((*application).*operation)(*text);
    };
}

CommandManager::Invoker withUrl(WithUrl operation)
{
    return [operation](const ObjectPtr &target, const std::optional<Argument> &argument) {
        const auto application = std::dynamic_pointer_cast<Application>(target);
        const QUrl *url = argument ? std::get_if<QUrl>(&*argument) : nullptr;
        if (application && url)
            ((*application).*operation)(*url);
    };
}

void eraseSandbox(const ObjectPtr &target, const std::optional<Argument> &)
{
    const auto application = std::dynamic_pointer_cast<Application>(target);
    if (!application)
        return;
    try {
        application->eraseSandbox(FileManager::defaultManager());
    } catch (const std::exception &error) {
        // Like the menu's erase, a repeat shows nothing.
        Log::general().error("Erasing the sandbox failed: %{public}@",
                             QString::fromUtf8(error.what()));
    }
}

} // namespace

CommandManager::Invoker invoker(const QString &selector)
{
    static const std::map<QString, CommandManager::Invoker> invokers{
        {"launch", simple(&Application::launch)},
        {"terminate", simple(&Application::terminate)},
        {"eraseSavedState", simple(&Application::eraseSavedState)},
        {"eraseLaunchStoryboard", simple(&Application::eraseLaunchStoryboard)},
        {"sendPushWithPayload:", withText(&Application::sendPushWithPayload)},
        {"grantPermissionTo:", withText(&Application::grantPermissionTo)},
        {"revokePermissionTo:", withText(&Application::revokePermissionTo)},
        {"resetPermissionTo:", withText(&Application::resetPermissionTo)},
        {"repeatExportDataWithPrevious:", withUrl(&Application::repeatExportDataWithPrevious)},
        {"importDataFrom:", withUrl(&Application::importDataFrom)},
        {"eraseSandboxWithFileManager:error:", eraseSandbox},
    };
    const auto found = invokers.find(selector);
    return found == invokers.end() ? CommandManager::Invoker() : found->second;
}

void record(CommandManager &commands, const CommandManager::ActionRecord &action,
            const std::shared_ptr<Application> &application, const QString &selector,
            std::optional<CommandManager::Argument> argument)
{
    if (action.isRepeat)
        return;
    CommandManager::Command command;
    command.title = action.title;
    command.target = application;
    command.selector = selector;
    command.object = std::move(argument);
    command.invoker = invoker(selector);
    commands.recordCommand(std::move(command));
}

} // namespace corvane::ApplicationCommands
