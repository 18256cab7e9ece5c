#pragma once

#include "platform/menus/MenuItem.h"

#include <functional>
#include <mutex>
#include <vector>

namespace corvane {

// The fixed items of a menu, each made on first use and kept for the menu's
// life. The maker runs without the lock: it may build a submenu that asks the
// same menu for another item, or take its time, without holding up anyone
// else. When two callers race, the first item stored wins and both get it.
class LazyMenuItems {
public:
    explicit LazyMenuItems(size_t count) : m_items(count) {}

    MenuItemPtr get(size_t index, const std::function<MenuItemPtr()> &make);
    // The stored item, or nothing before its first use.
    MenuItemPtr peek(size_t index) const;

private:
    mutable std::mutex m_mutex;
    std::vector<MenuItemPtr> m_items;
};

} // namespace corvane
