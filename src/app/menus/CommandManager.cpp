#include "app/menus/CommandManager.h"

#include "core/Observer.h"
#include "platform/menus/ActionTarget.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/MenuItem.h"

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

// The command being performed again on this thread, for the action it runs.
thread_local const CommandManager::Command *t_repeating = nullptr;

class RepeatScope {
public:
    explicit RepeatScope(const CommandManager::Command &command) : m_previous(t_repeating)
    {
        t_repeating = &command;
    }
    ~RepeatScope() { t_repeating = m_previous; }
    RepeatScope(const RepeatScope &) = delete;
    RepeatScope &operator=(const RepeatScope &) = delete;

private:
    const CommandManager::Command *m_previous;
};

} // namespace

void CommandManager::Command::perform() const
{
    ObjectPtr live = loadTarget();
    if (!live)
        return;
    {
        RepeatScope scope(*this);
        if (invoker) {
            invoker(live, object);
        } else if (auto actionTarget = std::dynamic_pointer_cast<ActionTarget>(live)) {
            ObjectPtr sender;
            if (object)
                if (auto argument = std::get_if<ObjectPtr>(&*object))
                    sender = *argument;
            actionTarget->perform(selector, sender);
        }
    }
    // The target may be a menu that was dropped meanwhile.
    releaseOnMain(std::move(live));
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

CommandManager::ActionRecord CommandManager::actionRecord(const ObjectPtr &sender)
{
    if (t_repeating)
        return {t_repeating->title, true};
    if (const auto item = std::dynamic_pointer_cast<MenuItem>(sender))
        return {item->title(), false};
    return {QStringLiteral("Unknown"), false};
}

void CommandManager::repeat(Command command)
{
    const auto queue =
        command.mainThreadOnly ? DispatchQueue::main() : DispatchQueue::userInitiated();
    queue->async([command = std::move(command)]() mutable {
        command.perform();
        // Its argument may be the last owner of a menu item.
        releaseOnMain(std::move(command));
    });
}

void CommandManager::recordAction(const ActionRecord &record, const ObjectPtr &target,
                                  const QString &selector, std::optional<Argument> object)
{
    if (!record.isRepeat)
        recordCommand(record.title, target, selector, std::move(object));
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
