#include "platform/menus/LazyMenuItems.h"

namespace corvane {

MenuItemPtr LazyMenuItems::get(size_t index, const std::function<MenuItemPtr()> &make)
{
    if (auto stored = peek(index))
        return stored;
    MenuItemPtr made = make();
    std::lock_guard lock(m_mutex);
    auto &slot = m_items.at(index);
    if (!slot)
        slot = std::move(made);
    return slot;
}

MenuItemPtr LazyMenuItems::peek(size_t index) const
{
    std::lock_guard lock(m_mutex);
    return m_items.at(index);
}

} // namespace corvane
