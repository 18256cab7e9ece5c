#pragma once

#include "shortcuts/HotKey.h"
#include "shortcuts/Shortcut.h"

#include <memory>
#include <unordered_map>

namespace corvane {

class HotKeyCenter;

// The program's system-wide hot keys, one per shortcut. A press runs the
// shortcut's action on a later turn of the main queue, never inside event
// handling. Main thread.
class ShortcutMonitor : public std::enable_shared_from_this<ShortcutMonitor> {
public:
    static std::shared_ptr<ShortcutMonitor> sharedMonitor();
    static std::shared_ptr<ShortcutMonitor> make(std::shared_ptr<HotKeyCenter> center);
    ~ShortcutMonitor();

    // False, changing nothing, when the shortcut cannot be registered. A
    // shortcut registered again keeps one hot key, running the newer action.
    bool registerShortcut(const Shortcut &shortcut, HotKey::Action action);
    void unregisterShortcut(const std::optional<Shortcut> &shortcut);
    void unregisterAllShortcuts();
    bool isShortcutRegistered(const Shortcut &shortcut) const;

    std::shared_ptr<HotKeyCenter> center() const { return m_center; }

private:
    explicit ShortcutMonitor(std::shared_ptr<HotKeyCenter> center);
    void handlePress(quint32 carbonID);

    std::shared_ptr<HotKeyCenter> m_center;
    std::unordered_map<Shortcut, std::unique_ptr<HotKey>> m_hotKeys;
};

} // namespace corvane
