#pragma once

#include "shortcuts/Shortcut.h"

#include <functional>
#include <memory>

namespace corvane {

class HotKeyCenter;

// One registered system-wide hot key; unregistered when destroyed. Each gets
// the next identifier of the process, starting at 1, never reused.
class HotKey {
public:
    using Action = std::function<void()>;

    // Nothing when the center refuses the shortcut.
    static std::unique_ptr<HotKey>
    registeredHotKeyWithShortcut(const Shortcut &shortcut,
                                 const std::shared_ptr<HotKeyCenter> &center);
    ~HotKey();
    HotKey(const HotKey &) = delete;
    HotKey &operator=(const HotKey &) = delete;

    quint32 carbonID() const { return m_carbonID; }
    const Action &action() const { return m_action; }
    void setAction(Action action) { m_action = std::move(action); }

private:
    HotKey(quint32 carbonID, std::shared_ptr<HotKeyCenter> center);

    quint32 m_carbonID;
    std::shared_ptr<HotKeyCenter> m_center;
    Action m_action;
};

} // namespace corvane
