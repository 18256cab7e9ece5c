#include "platform/menus/MenuItem.h"

#include "platform/menus/Menu.h"

namespace corvane {

MenuItem::MenuItem(const QString &title, const QString &action, const QString &keyEquivalent)
    : m_title(title), m_action(action), m_keyEquivalent(keyEquivalent)
{
}

std::shared_ptr<MenuItem> MenuItem::make(const QString &title, const QString &action,
                                         const QString &keyEquivalent)
{
    return std::make_shared<MenuItem>(title, action, keyEquivalent);
}

std::shared_ptr<MenuItem> MenuItem::separator()
{
    auto item = std::make_shared<MenuItem>();
    item->m_separator = true;
    item->m_enabled = false;
    return item;
}

QString MenuItem::title() const
{
    std::lock_guard lock(m_mutex);
    return m_title;
}

void MenuItem::setTitle(const QString &title)
{
    assign(m_title, title);
}

std::optional<TwoLineTitle> MenuItem::twoLineTitle() const
{
    std::lock_guard lock(m_mutex);
    return m_twoLineTitle;
}

void MenuItem::setTwoLineTitle(const std::optional<TwoLineTitle> &title)
{
    assign(m_twoLineTitle, title);
}

QString MenuItem::displayTitle() const
{
    std::lock_guard lock(m_mutex);
    if (m_twoLineTitle)
        return m_twoLineTitle->primary + QStringLiteral(" — ") + m_twoLineTitle->secondary;
    return m_title;
}

QString MenuItem::action() const
{
    std::lock_guard lock(m_mutex);
    return m_action;
}

void MenuItem::setAction(const QString &selector)
{
    assign(m_action, selector);
}

std::shared_ptr<ActionTarget> MenuItem::target() const
{
    std::lock_guard lock(m_mutex);
    return m_target.lock();
}

void MenuItem::setTarget(const std::weak_ptr<ActionTarget> &target)
{
    std::lock_guard lock(m_mutex);
    m_target = target;
}

bool MenuItem::sendAction()
{
    QString selector;
    std::shared_ptr<ActionTarget> target;
    {
        std::lock_guard lock(m_mutex);
        selector = m_action;
        target = m_target.lock();
    }
    if (selector.isEmpty() || !target)
        return false;
    return target->perform(selector, shared_from_this());
}

QString MenuItem::keyEquivalent() const
{
    std::lock_guard lock(m_mutex);
    return m_keyEquivalent;
}

void MenuItem::setKeyEquivalent(const QString &key)
{
    assign(m_keyEquivalent, key);
}

KeyModifiers MenuItem::keyEquivalentModifierMask() const
{
    std::lock_guard lock(m_mutex);
    return m_modifierMask;
}

void MenuItem::setKeyEquivalentModifierMask(KeyModifiers mask)
{
    assign(m_modifierMask, mask);
}

ImageRef MenuItem::image() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

void MenuItem::setImage(const ImageRef &image)
{
    assign(m_image, image);
}

ImageRef MenuItem::onStateImage() const
{
    std::lock_guard lock(m_mutex);
    return m_onStateImage;
}

void MenuItem::setOnStateImage(const ImageRef &image)
{
    assign(m_onStateImage, image);
}

ImageRef MenuItem::offStateImage() const
{
    std::lock_guard lock(m_mutex);
    return m_offStateImage;
}

void MenuItem::setOffStateImage(const ImageRef &image)
{
    assign(m_offStateImage, image);
}

ControlState MenuItem::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

void MenuItem::setState(ControlState state)
{
    assign(m_state, state);
}

bool MenuItem::isHidden() const
{
    std::lock_guard lock(m_mutex);
    return m_hidden;
}

void MenuItem::setHidden(bool hidden)
{
    assign(m_hidden, hidden);
}

bool MenuItem::isEnabled() const
{
    std::lock_guard lock(m_mutex);
    return m_enabled;
}

void MenuItem::setEnabled(bool enabled)
{
    assign(m_enabled, enabled);
}

int MenuItem::indentationLevel() const
{
    std::lock_guard lock(m_mutex);
    return m_indentationLevel;
}

void MenuItem::setIndentationLevel(int level)
{
    assign(m_indentationLevel, qBound(0, level, 15));
}

QString MenuItem::toolTip() const
{
    std::lock_guard lock(m_mutex);
    return m_toolTip;
}

void MenuItem::setToolTip(const QString &toolTip)
{
    assign(m_toolTip, toolTip);
}

std::shared_ptr<Menu> MenuItem::submenu() const
{
    std::lock_guard lock(m_mutex);
    return m_submenu;
}

void MenuItem::setSubmenu(const std::shared_ptr<Menu> &submenu)
{
    assign(m_submenu, submenu);
}

bool MenuItem::hasSubmenu() const
{
    std::lock_guard lock(m_mutex);
    return m_submenu != nullptr;
}

RepresentedObject MenuItem::representedObject() const
{
    std::lock_guard lock(m_mutex);
    return m_representedObject;
}

void MenuItem::setRepresentedObject(const RepresentedObject &object)
{
    std::lock_guard lock(m_mutex);
    m_representedObject = object;
}

std::shared_ptr<Menu> MenuItem::menu() const
{
    std::lock_guard lock(m_mutex);
    return m_menu.lock();
}

void MenuItem::setMenu(const std::weak_ptr<Menu> &menu)
{
    std::lock_guard lock(m_mutex);
    m_menu = menu;
}

void MenuItem::changed()
{
    if (auto menu = this->menu())
        menu->itemDidChange(std::static_pointer_cast<MenuItem>(shared_from_this()));
}

} // namespace corvane
