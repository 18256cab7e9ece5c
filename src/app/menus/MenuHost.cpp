#include "app/menus/MenuHost.h"

#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
std::weak_ptr<MenuHost> g_current;

} // namespace

std::shared_ptr<MenuHost> MenuHost::current()
{
    std::lock_guard lock(g_mutex);
    return g_current.lock();
}

void MenuHost::setCurrent(const std::shared_ptr<MenuHost> &host)
{
    std::lock_guard lock(g_mutex);
    g_current = host;
}

} // namespace corvane
