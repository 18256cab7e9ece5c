#pragma once

#include "platform/menus/ActionTarget.h"
#include "platform/ImageRef.h"
#include "platform/menus/KeyModifiers.h"
#include "platform/Object.h"
#include "platform/menus/RepresentedObject.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

class Menu;

enum class ControlState { Off, On, Mixed };

// A title of two lines: the primary line in the menu's font, the secondary
// smaller, in the text or the disabled-text colour.
struct TwoLineTitle {
    enum class Role { Text, DisabledText };
    QString primary;
    QString secondary;
    Role secondaryRole = Role::DisabledText;

    bool operator==(const TwoLineTitle &) const = default;
};

// One row of a Menu. Owned by std::shared_ptr; identity is the object, so a
// rebuild that places the same item again keeps its rendered row. Items may
// be made and configured on any thread; once their menu is shown, change them
// on the main thread only. Every setter tells the renderer.
class MenuItem : public Object {
public:
    explicit MenuItem(const QString &title = {}, const QString &action = {},
                      const QString &keyEquivalent = {});
    static std::shared_ptr<MenuItem> make(const QString &title = {}, const QString &action = {},
                                          const QString &keyEquivalent = {});
    static std::shared_ptr<MenuItem> separator();

    bool isSeparator() const { return m_separator; }

    QString title() const;
    void setTitle(const QString &title);
    std::optional<TwoLineTitle> twoLineTitle() const;
    void setTwoLineTitle(const std::optional<TwoLineTitle> &title);
    // The text shown where a row cannot paint two lines.
    QString displayTitle() const;

    QString action() const;
    void setAction(const QString &selector);
    std::shared_ptr<ActionTarget> target() const;
    void setTarget(const std::weak_ptr<ActionTarget> &target);
    // Sends the action to the target with this item as sender; a missing
    // action or a target that is gone does nothing. Returns whether it ran.
    bool sendAction();

    QString keyEquivalent() const;
    void setKeyEquivalent(const QString &key);
    KeyModifiers keyEquivalentModifierMask() const;
    void setKeyEquivalentModifierMask(KeyModifiers mask);

    ImageRef image() const;
    void setImage(const ImageRef &image);
    ImageRef onStateImage() const;
    void setOnStateImage(const ImageRef &image);
    ImageRef offStateImage() const;
    void setOffStateImage(const ImageRef &image);
    ControlState state() const;
    void setState(ControlState state);

    bool isHidden() const;
    void setHidden(bool hidden);
    bool isEnabled() const;
    void setEnabled(bool enabled);
    int indentationLevel() const;
    void setIndentationLevel(int level);
    QString toolTip() const;
    void setToolTip(const QString &toolTip);

    std::shared_ptr<Menu> submenu() const;
    void setSubmenu(const std::shared_ptr<Menu> &submenu);
    bool hasSubmenu() const;

    RepresentedObject representedObject() const;
    virtual void setRepresentedObject(const RepresentedObject &object);

    // The menu whose items include this one.
    std::shared_ptr<Menu> menu() const;

protected:
    // Tells the containing menu's renderer that this row changed.
    void changed();

private:
    friend class Menu;
    void setMenu(const std::weak_ptr<Menu> &menu);

    template <class T> void assign(T &field, const T &value)
    {
        {
            std::lock_guard lock(m_mutex);
            if (field == value)
                return;
            field = value;
        }
        changed();
    }

    mutable std::mutex m_mutex;
    bool m_separator = false;
    QString m_title;
    std::optional<TwoLineTitle> m_twoLineTitle;
    QString m_action;
    std::weak_ptr<ActionTarget> m_target;
    QString m_keyEquivalent;
    KeyModifiers m_modifierMask = KeyModifier::Command;
    ImageRef m_image;
    ImageRef m_onStateImage;
    ImageRef m_offStateImage;
    ControlState m_state = ControlState::Off;
    bool m_hidden = false;
    bool m_enabled = true;
    int m_indentationLevel = 0;
    QString m_toolTip;
    std::shared_ptr<Menu> m_submenu;
    RepresentedObject m_representedObject;
    std::weak_ptr<Menu> m_menu;
};

using MenuItemPtr = std::shared_ptr<MenuItem>;

} // namespace corvane
