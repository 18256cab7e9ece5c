#include "app/CommandManager.h"

#include "core/Observer.h"
#include "platform/ActionTarget.h"

#include <algorithm>

namespace corvane {

namespace {

bool isComparable(const CommandManager::Argument &argument)
{
    return !std::holds_alternative<std::any>(argument);
}

bool argumentsMatch(const std::optional<CommandManager::Argument> &a,
                    const std::optional<CommandManager::Argument> &b)
{
    if (!a || !b || !isComparable(*a) || !isComparable(*b))
        return true;
    if (a->index() != b->index())
        return false;
    if (auto text = std::get_if<QString>(&*a))
        return *text == std::get<QString>(*b);
    if (auto url = std::get_if<QUrl>(&*a))
        return *url == std::get<QUrl>(*b);
    return std::get<ObjectPtr>(*a) == std::get<ObjectPtr>(*b);
}

} // namespace

void CommandManager::Command::perform() const
{
    const ObjectPtr live = loadTarget();
    if (!live)
        return;
    if (invoker) {
        invoker(live, object);
        return;
    }
    auto actionTarget = std::dynamic_pointer_cast<ActionTarget>(live);
    if (!actionTarget)
        return;
    ObjectPtr sender;
    if (object)
        if (auto argument = std::get_if<ObjectPtr>(&*object))
            sender = *argument;
    actionTarget->perform(selector, sender);
}

bool CommandManager::Command::operator==(const Command &other) const
{
    return title == other.title && loadTarget() == other.loadTarget() &&
           selector == other.selector && argumentsMatch(object, other.object);
}

std::shared_ptr<CommandManager> CommandManager::shared()
{
    static const std::shared_ptr<CommandManager> manager = make();
    return manager;
}

std::shared_ptr<CommandManager> CommandManager::make()
{
    return std::shared_ptr<CommandManager>(new CommandManager);
}

void CommandManager::recordCommand(Command command)
{
    // Entries leave the list outside the lock: their arguments may be the
    // last owners of menu items.
    std::vector<Command> before;
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        before = m_recentCommands;
        auto &list = m_recentCommands;
        auto equal = std::find(list.rbegin(), list.rend(), command);
        if (equal != list.rend())
            list.erase(std::next(equal).base());
        else if (int(list.size()) >= capacity)
            list.erase(list.begin());
        list.push_back(std::move(command));
        changed = !std::equal(before.begin(), before.end(), list.begin(), list.end());
    }
    if (changed)
        postNotification(historyDidChange, shared_from_this());
}

void CommandManager::recordCommand(const QString &title, const ObjectPtr &target,
                                   const QString &selector, std::optional<Argument> object)
{
    recordCommand(Command{title, target, selector, std::move(object), {}, false});
}

std::vector<CommandManager::Command> CommandManager::recentCommands() const
{
    std::lock_guard lock(m_mutex);
    return m_recentCommands;
}

std::optional<CommandManager::Command> CommandManager::newestLiveCommand() const
{
    const auto commands = recentCommands();
    for (auto it = commands.rbegin(); it != commands.rend(); ++it)
        if (it->loadTarget())
            return *it;
    return std::nullopt;
}

} // namespace corvane
