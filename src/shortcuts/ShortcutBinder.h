#pragma once

#include "platform/defaults/UserDefaults.h"
#include "shortcuts/Shortcut.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace corvane {

class ShortcutMonitor;

// Keeps a global hot key registered for whatever shortcut is stored under a
// user-defaults key: the value at binding, then each change, handled on the
// main thread. Main thread.
class ShortcutBinder : public std::enable_shared_from_this<ShortcutBinder> {
public:
    using Action = std::function<void()>;

    // Made on first use unless one was set (tests set theirs, or none).
    static std::shared_ptr<ShortcutBinder> sharedBinder();
    static void setSharedBinder(std::shared_ptr<ShortcutBinder> binder);

    // nullptr: the shared monitor and the standard defaults, taken when
    // first needed.
    explicit ShortcutBinder(std::shared_ptr<ShortcutMonitor> monitor = nullptr,
                            std::shared_ptr<UserDefaults> defaults = nullptr);
    virtual ~ShortcutBinder();
    ShortcutBinder(const ShortcutBinder &) = delete;
    ShortcutBinder &operator=(const ShortcutBinder &) = delete;

    // Replaces an earlier binding of the key. Throws std::invalid_argument
    // for a key holding "." or " ".
    virtual void bindShortcutWithDefaultsKey(const QString &defaultsKey, Action action);
    virtual void breakBindingWithDefaultsKey(const QString &defaultsKey);
    // Puts the shortcuts into the registration domain of the defaults.
    void registerDefaultShortcuts(const std::map<QString, Shortcut> &shortcuts);

    // The shortcut registered for a bound key.
    std::optional<Shortcut> shortcutForKey(const QString &defaultsKey) const;

private:
    std::shared_ptr<ShortcutMonitor> monitor();
    std::shared_ptr<UserDefaults> defaults();
    // Takes the key's current stored value.
    void refresh(const QString &defaultsKey);
    void setShortcut(const QString &defaultsKey, const std::optional<Shortcut> &shortcut);

    std::shared_ptr<ShortcutMonitor> m_monitor;
    std::shared_ptr<UserDefaults> m_defaults;
    std::map<QString, Action> m_actions;
    std::map<QString, Shortcut> m_shortcuts;
    std::map<QString, UserDefaults::ObservationPtr> m_observations;
};

} // namespace corvane
