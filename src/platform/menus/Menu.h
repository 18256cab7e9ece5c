#pragma once

#include "platform/menus/ActionTarget.h"
#include "platform/menus/MenuItem.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

class MenuObserver;

// A menu as a plain model: built on any thread, handed to the main thread
// and rendered there. After the hand-off, change it on the main thread only;
// each change reaches the renderer at once (changes from other threads are
// forwarded to the main queue). A menu is the target of its own items'
// actions when it registers them with addAction.
//
// Rules every menu keeps:
// - Nothing on the main thread runs a tool (simctl, ps, defaults) or waits
//   for a lock held across one. Running states come from the activity
//   monitor's last snapshot, read at once; the menu updates its marks when a
//   newer one is posted. Actions check their preconditions on that snapshot
//   and do their work on the user-initiated queue.
// - Observe, then snapshot: a menu registers for the changes of what it
//   shows before it reads it, and orders its builds with BuildGenerations,
//   so a change that arrives while it is being built is applied after the
//   construction, never overwritten by it.
// - Fixed items are made through LazyMenuItems, whose makers run without its
//   lock.
// - Menus, their rows and whatever holds them on a worker (a command, rows
//   collected for a rebuild) end on the main thread: releaseOnMain.
class Menu : public ActionTarget {
public:
    explicit Menu(const QString &title = {});
    ~Menu() override;

    QString title() const;
    void setTitle(const QString &title);

    std::vector<MenuItemPtr> items() const;
    // Replaces every item in one step; items kept keep their rendered rows.
    void setItems(std::vector<MenuItemPtr> items);
    void addItem(const MenuItemPtr &item);
    int indexOf(const MenuItemPtr &item) const;

    // Called by the renderer right before the menu shows (after willOpen) and
    // again whenever the menu asks for it (the Option-key poll).
    virtual void update() {}
    virtual void willOpen() {}
    virtual void didClose() {}
    // The item under the highlight, or nullptr when none is.
    virtual void willHighlight(const MenuItemPtr &item) { Q_UNUSED(item); }
    // Closes the menu if it is open.
    void cancelTracking();

    // Bulky submenus fill themselves only when first opened: the populator
    // runs once, on the main thread, before the first willOpen.
    void setDeferredPopulation(std::function<void(Menu &)> populate);
    bool needsPopulation() const;
    void populateIfNeeded();

    // The renderer attaches itself while it shows the menu.
    void setObserver(const std::weak_ptr<MenuObserver> &observer);
    std::shared_ptr<MenuObserver> observer() const;

private:
    friend class MenuItem;
    void itemDidChange(const MenuItemPtr &item);
    void attachItems(const std::vector<MenuItemPtr> &items);
    void notify(std::function<void(Menu &, MenuObserver &)> call);

    mutable std::mutex m_mutex;
    QString m_title;
    std::vector<MenuItemPtr> m_items;
    std::function<void(Menu &)> m_populate;
    std::weak_ptr<MenuObserver> m_observer;
};

using MenuPtr = std::shared_ptr<Menu>;

} // namespace corvane
