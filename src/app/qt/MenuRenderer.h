#pragma once

#include "platform/menus/KeyModifiers.h"
#include "platform/menus/Menu.h"

#include <QKeySequence>

#include <memory>
#include <unordered_map>

class QAction;
class QMenu;

namespace corvane {

class MenuBinding;

// Mirrors Menu models into live QMenus on the main thread. A QMenu is filled
// only when it is about to show, one level at a time; each model item keeps
// its QAction for as long as it stays in its menu, and changes to a shown
// menu reach its QMenu at once (item changes are gathered and applied in one
// pass after the hook or event that made them). The renderer calls model code
// only through willOpen, update, didClose and willHighlight, the deferred
// population, and the items' actions, which are sent after the menu closed.
class MenuRenderer {
public:
    MenuRenderer();
    ~MenuRenderer();
    MenuRenderer(const MenuRenderer &) = delete;
    MenuRenderer &operator=(const MenuRenderer &) = delete;

    // The QMenu of a top-level model menu, made empty on first request and
    // owned by the renderer until release.
    QMenu *menuFor(const MenuPtr &menu);
    void release(const MenuPtr &menu);

    // Lookups for tests and the status item; nullptr while not rendered.
    QMenu *existingMenu(const Menu *menu) const;
    QAction *actionFor(const MenuItemPtr &item) const;
    MenuPtr modelFor(const QMenu *menu) const;
    bool isFilled(const Menu *menu) const;

    // Applies gathered item changes now instead of on the next event turn.
    void flush();

    // Key equivalents as widget shortcuts: Command is Ctrl, Control is Meta,
    // Option is Alt; an upper-case letter adds Shift.
    static QKeySequence keySequence(const QString &key, KeyModifiers mask);

    static constexpr int indentationWidth = 10;
    static constexpr int stateColumnWidth = 16;

private:
    friend class MenuBinding;
    void registerBinding(const Menu *menu, MenuBinding *binding);
    void unregisterBinding(const Menu *menu, MenuBinding *binding);

    std::unordered_map<const Menu *, std::shared_ptr<MenuBinding>> m_roots;
    std::unordered_map<const Menu *, MenuBinding *> m_bindings;
};

} // namespace corvane
