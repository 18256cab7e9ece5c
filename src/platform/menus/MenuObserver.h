#pragma once

#include <memory>

namespace corvane {

class Menu;
class MenuItem;

// What a renderer hears from a shown Menu; called on the main thread.
class MenuObserver {
public:
    virtual ~MenuObserver() = default;
    virtual void menuItemsDidChange(Menu &menu) = 0;
    virtual void menuItemDidChange(Menu &menu, const std::shared_ptr<MenuItem> &item) = 0;
    virtual void menuTitleDidChange(Menu &menu) = 0;
    virtual void menuCancelTracking(Menu &menu) = 0;
};

} // namespace corvane
