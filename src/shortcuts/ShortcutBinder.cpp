#include "shortcuts/ShortcutBinder.h"

#include <mutex>

namespace corvane {

namespace {
std::mutex g_mutex;
std::shared_ptr<ShortcutBinder> g_binder;
} // namespace

std::shared_ptr<ShortcutBinder> ShortcutBinder::sharedBinder()
{
    std::lock_guard lock(g_mutex);
    return g_binder;
}

void ShortcutBinder::setSharedBinder(std::shared_ptr<ShortcutBinder> binder)
{
    std::lock_guard lock(g_mutex);
    g_binder = std::move(binder);
}

} // namespace corvane
