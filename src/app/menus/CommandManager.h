#pragma once

#include "platform/Object.h"

#include <QString>
#include <QUrl>

#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

namespace corvane {

// The in-memory history behind "Quick Repeat": at most ten repeatable menu
// commands, oldest first. Written from the queues where menu actions finish,
// read on the main thread.
class CommandManager : public Object {
public:
    static constexpr const char *historyDidChange =
        "com.quendrith.corvane.commands.historydidchange";
    static constexpr int capacity = 10;

    // A command's one argument. Texts and URLs compare by value, objects by
    // identity; any other value takes no part in comparisons.
    using Argument = std::variant<QString, QUrl, ObjectPtr, std::any>;
    // Sends the command to its live target.
    using Invoker =
        std::function<void(const ObjectPtr &target, const std::optional<Argument> &argument)>;

    struct Command {
        QString title;
        std::weak_ptr<Object> target;
        QString selector;
        std::optional<Argument> object;
        // Without one, a target that is an ActionTarget performs the selector
        // with an object argument as sender.
        Invoker invoker;
        // Performed on the main thread even where repeats run elsewhere.
        bool mainThreadOnly = false;

        ObjectPtr loadTarget() const { return target.lock(); }
        // Performs the command again, on the calling thread; nothing when the
        // target is gone.
        void perform() const;

        bool operator==(const Command &other) const;
    };

    // How a repeatable action records itself, taken when the action starts,
    // on the thread that performs it. Chosen from a menu, it records under
    // the item's title ("Unknown" without an item). Performed again by Quick
    // Repeat, it records nothing: the command keeps its title and place.
    struct ActionRecord {
        QString title;
        bool isRepeat = false;
    };

    static std::shared_ptr<CommandManager> shared();
    static std::shared_ptr<CommandManager> make();

    static ActionRecord actionRecord(const ObjectPtr &sender);
    // Quick Repeat: performs the command on the user-initiated queue (on the
    // main queue when it is main-thread only), then releases it on main.
    static void repeat(Command command);

    // Records the action's command unless the action was a repeat.
    void recordAction(const ActionRecord &record, const ObjectPtr &target, const QString &selector,
                      std::optional<Argument> object = std::nullopt);

    // Moves an equal entry to the end, or appends and drops the oldest past
    // ten; posts historyDidChange on this thread when the list changed.
    void recordCommand(Command command);
    void recordCommand(const QString &title, const ObjectPtr &target, const QString &selector,
                       std::optional<Argument> object = std::nullopt);

    std::vector<Command> recentCommands() const;
    // The newest command whose target still exists.
    std::optional<Command> newestLiveCommand() const;

private:
    CommandManager() = default;

    mutable std::mutex m_mutex;
    std::vector<Command> m_recentCommands;
};

} // namespace corvane
