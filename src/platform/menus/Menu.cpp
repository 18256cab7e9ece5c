#include "platform/menus/Menu.h"

#include "platform/queues/DispatchQueue.h"
#include "platform/menus/MenuObserver.h"

#include <unordered_set>

namespace corvane {

Menu::Menu(const QString &title) : m_title(title)
{
}

Menu::~Menu()
{
    for (const auto &item : m_items)
        item->setMenu({});
}

QString Menu::title() const
{
    std::lock_guard lock(m_mutex);
    return m_title;
}

void Menu::setTitle(const QString &title)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_title == title)
            return;
        m_title = title;
    }
    notify([](Menu &menu, MenuObserver &observer) { observer.menuTitleDidChange(menu); });
}

std::vector<MenuItemPtr> Menu::items() const
{
    std::lock_guard lock(m_mutex);
    return m_items;
}

void Menu::setItems(std::vector<MenuItemPtr> items)
{
    std::erase(items, nullptr);
    std::vector<MenuItemPtr> previous;
    {
        std::lock_guard lock(m_mutex);
        previous.swap(m_items);
        m_items = items;
    }
    std::unordered_set<const MenuItem *> kept;
    for (const auto &item : items)
        kept.insert(item.get());
    for (const auto &item : previous) {
        if (!kept.count(item.get()))
            item->setMenu({});
    }
    attachItems(items);
    notify([](Menu &menu, MenuObserver &observer) { observer.menuItemsDidChange(menu); });
}

void Menu::addItem(const MenuItemPtr &item)
{
    auto items = this->items();
    items.push_back(item);
    setItems(std::move(items));
}

int Menu::indexOf(const MenuItemPtr &item) const
{
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i] == item)
            return int(i);
    }
    return -1;
}

void Menu::cancelTracking()
{
    notify([](Menu &menu, MenuObserver &observer) { observer.menuCancelTracking(menu); });
}

void Menu::setDeferredPopulation(std::function<void(Menu &)> populate)
{
    std::lock_guard lock(m_mutex);
    m_populate = std::move(populate);
}

bool Menu::needsPopulation() const
{
    std::lock_guard lock(m_mutex);
    return bool(m_populate);
}

void Menu::populateIfNeeded()
{
    std::function<void(Menu &)> populate;
    {
        std::lock_guard lock(m_mutex);
        populate.swap(m_populate);
    }
    if (populate)
        populate(*this);
}

void Menu::setObserver(const std::weak_ptr<MenuObserver> &observer)
{
    {
        std::lock_guard lock(m_mutex);
        m_observer = observer;
    }
    // Items set while the menu was being constructed could not point back.
    attachItems(items());
}

void Menu::attachItems(const std::vector<MenuItemPtr> &items)
{
    const std::weak_ptr<Menu> self = std::dynamic_pointer_cast<Menu>(weak_from_this().lock());
    if (self.expired())
        return;
    for (const auto &item : items)
        item->setMenu(self);
}

std::shared_ptr<MenuObserver> Menu::observer() const
{
    std::lock_guard lock(m_mutex);
    return m_observer.lock();
}

void Menu::itemDidChange(const MenuItemPtr &item)
{
    notify([item](Menu &menu, MenuObserver &observer) {
        // The item may have left the menu before a forwarded call arrives.
        if (item->menu().get() == &menu)
            observer.menuItemDidChange(menu, item);
    });
}

void Menu::notify(std::function<void(Menu &, MenuObserver &)> call)
{
    if (!observer())
        return;
    if (DispatchQueue::isMainThread()) {
        if (auto observer = this->observer())
            call(*this, *observer);
        return;
    }
    DispatchQueue::main()->async(
        [weak = std::weak_ptr<Menu>(std::dynamic_pointer_cast<Menu>(weak_from_this().lock())),
         call = std::move(call)] {
            auto menu = weak.lock();
            if (!menu)
                return;
            if (auto observer = menu->observer())
                call(*menu, *observer);
        });
}

} // namespace corvane
