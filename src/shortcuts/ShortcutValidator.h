#pragma once

#include "platform/Menu.h"
#include "shortcuts/Shortcut.h"

#include <QString>

#include <memory>

namespace corvane {

class HotKeyCenter;

// Decides whether a recorded shortcut may be used: whether it has enough
// modifiers, and whether the system or one of the program's menus already
// uses it. Main thread.
class ShortcutValidator {
public:
    static std::shared_ptr<ShortcutValidator> sharedValidator();

    // The center is asked whether another program holds a combination;
    // nullptr means the shared one.
    explicit ShortcutValidator(std::shared_ptr<HotKeyCenter> center = nullptr);

    bool allowAnyShortcutWithOptionModifier = false;
    bool allowOverridingServicesShortcut = false;

    // The menus whose key equivalents a shortcut must not repeat; none by
    // default. The services menu is the one the override flag exempts.
    void setMainMenu(MenuPtr menu) { m_mainMenu = std::move(menu); }
    MenuPtr mainMenu() const { return m_mainMenu; }
    void setServicesMenu(MenuPtr menu) { m_servicesMenu = std::move(menu); }

    bool isShortcutValid(const Shortcut &shortcut) const;
    // Held by another program, else taken in the main menu. The explanation,
    // when given, receives the sentence to show.
    bool isShortcutAlreadyTakenBySystem(const Shortcut &shortcut,
                                        QString *explanation = nullptr) const;
    bool isShortcutAlreadyTakenInMenu(const Shortcut &shortcut, const Menu &menu,
                                      QString *explanation = nullptr) const;

private:
    std::shared_ptr<HotKeyCenter> center() const;

    std::shared_ptr<HotKeyCenter> m_center;
    MenuPtr m_mainMenu;
    MenuPtr m_servicesMenu;
};

} // namespace corvane
