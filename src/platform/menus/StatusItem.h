#pragma once

#include "platform/ImageRef.h"
#include "platform/menus/Menu.h"

#include <memory>

namespace corvane {

// The program's item in the menu bar: an icon that opens a menu. Used on the
// main thread.
class StatusItem {
public:
    virtual ~StatusItem() = default;

    virtual void setIcon(const ImageRef &icon) = 0;
    virtual ImageRef icon() const = 0;
    virtual void setMenu(const MenuPtr &menu) = 0;
    virtual MenuPtr menu() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual bool isVisible() const = 0;
    // Drawn as pressed while its menu is open.
    virtual void setHighlighted(bool highlighted) = 0;
    virtual bool isHighlighted() const = 0;
    // Opens the menu as a click would.
    virtual void popUpMenu() = 0;
};

// Keeps what it is given; popUpMenu runs the menu's opening and closing
// hooks at once, as a quick open and close would.
class RecordingStatusItem : public StatusItem {
public:
    void setIcon(const ImageRef &icon) override { m_icon = icon; }
    ImageRef icon() const override { return m_icon; }
    void setMenu(const MenuPtr &menu) override { m_menu = menu; }
    MenuPtr menu() const override { return m_menu; }
    void setVisible(bool visible) override { m_visible = visible; }
    bool isVisible() const override { return m_visible; }
    void setHighlighted(bool highlighted) override { m_highlighted = highlighted; }
    bool isHighlighted() const override { return m_highlighted; }
    void popUpMenu() override;

    int popUps = 0;

private:
    ImageRef m_icon;
    MenuPtr m_menu;
    bool m_visible = true;
    bool m_highlighted = false;
};

} // namespace corvane
