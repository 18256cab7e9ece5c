#pragma once

#include "app/qt/MenuRenderer.h"
#include "platform/menus/StatusItem.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QMenu;
class QSystemTrayIcon;
class QToolButton;

namespace corvane {

// The status item as a tray icon whose activation pops up our own QMenu, so
// that live updates and the Option-key poll work on every desktop. Without a
// tray (a bare X server, some desktops) it is a small always-on-top button.
// Either shows once it has an icon.
class QtStatusItem : public QObject, public StatusItem {
public:
    enum class Presentation {
        // The tray where the desktop has one, else the button.
        Automatic,
        Tray,
        Button,
    };

    explicit QtStatusItem(Presentation presentation = Presentation::Automatic);
    ~QtStatusItem() override;

    void setIcon(const ImageRef &icon) override;
    ImageRef icon() const override { return m_icon; }
    void setMenu(const MenuPtr &menu) override;
    MenuPtr menu() const override { return m_menu; }
    void setVisible(bool visible) override;
    bool isVisible() const override { return m_visible; }
    void setHighlighted(bool highlighted) override;
    bool isHighlighted() const override { return m_highlighted; }
    void popUpMenu() override;

    MenuRenderer &renderer() { return m_renderer; }
    bool usesTray() const { return m_tray != nullptr; }

private:
    void showState();

    MenuRenderer m_renderer;
    ImageRef m_icon;
    MenuPtr m_menu;
    QPointer<QMenu> m_qmenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<QToolButton> m_button;
    bool m_visible = true;
    bool m_hasIcon = false;
    bool m_highlighted = false;
};

} // namespace corvane
