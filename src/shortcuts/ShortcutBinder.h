#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace corvane {

// Keeps a global hot key bound to the shortcut stored under a user-defaults
// key. There is no shared binder until global hot keys exist; callers then
// do nothing.
class ShortcutBinder {
public:
    using Action = std::function<void()>;

    virtual ~ShortcutBinder() = default;

    // Replaces an earlier binding of the key; the action runs on the main
    // thread. A key with no stored shortcut binds nothing.
    virtual void bindShortcut(const QString &defaultsKey, Action action) = 0;
    virtual void breakBinding(const QString &defaultsKey) = 0;

    static std::shared_ptr<ShortcutBinder> sharedBinder();
    static void setSharedBinder(std::shared_ptr<ShortcutBinder> binder);
};

} // namespace corvane
