#include "app/qt/MenuRenderer.h"

#include "app/qt/MenuBinding.h"
#include "platform/menus/KeyEquivalents.h"
#include "platform/menus/MenuItem.h"

#include <QMenu>

namespace corvane {

MenuRenderer::MenuRenderer() = default;

MenuRenderer::~MenuRenderer()
{
    m_roots.clear();
}

QMenu *MenuRenderer::menuFor(const MenuPtr &menu)
{
    if (!menu)
        return nullptr;
    auto found = m_roots.find(menu.get());
    if (found != m_roots.end())
        return found->second->qmenu();
    auto binding = std::make_shared<MenuBinding>(this, menu, nullptr);
    binding->attach();
    m_roots.emplace(menu.get(), binding);
    return binding->qmenu();
}

void MenuRenderer::release(const MenuPtr &menu)
{
    if (menu)
        m_roots.erase(menu.get());
}

QMenu *MenuRenderer::existingMenu(const Menu *menu) const
{
    auto found = m_bindings.find(menu);
    return found == m_bindings.end() ? nullptr : found->second->qmenu();
}

QAction *MenuRenderer::actionFor(const MenuItemPtr &item) const
{
    if (!item)
        return nullptr;
    auto menu = item->menu();
    auto found = m_bindings.find(menu.get());
    return found == m_bindings.end() ? nullptr : found->second->actionFor(item.get());
}

MenuPtr MenuRenderer::modelFor(const QMenu *qmenu) const
{
    for (const auto &[menu, binding] : m_bindings) {
        if (binding->qmenu() == qmenu)
            return binding->model();
    }
    return nullptr;
}

bool MenuRenderer::isFilled(const Menu *menu) const
{
    auto found = m_bindings.find(menu);
    return found != m_bindings.end() && found->second->isFilled();
}

void MenuRenderer::flush()
{
    for (const auto &[menu, binding] : m_bindings)
        binding->flush();
}

QKeySequence MenuRenderer::keySequence(const QString &key, KeyModifiers mask)
{
    return KeyEquivalents::keySequence(key, mask);
}

void MenuRenderer::registerBinding(const Menu *menu, MenuBinding *binding)
{
    m_bindings[menu] = binding;
}

void MenuRenderer::unregisterBinding(const Menu *menu, MenuBinding *binding)
{
    auto found = m_bindings.find(menu);
    if (found != m_bindings.end() && found->second == binding)
        m_bindings.erase(found);
}

} // namespace corvane
