#pragma once

#include "platform/menus/Menu.h"
#include "shortcuts/Shortcut.h"

#include <QString>

#include <memory>
#include <vector>

namespace corvane {

class HotKeyCenter;

// Decides whether a recorded shortcut may be used: whether it has enough
// modifiers, and whether the system, one of the program's menus or another
// of its global hot keys already uses it. Main thread.
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

    // One of the program's global hot keys: the defaults key its shortcut is
    // stored under, and the title of the action it runs.
    struct HotKeyUse {
        QString defaultsKey;
        QString title;
    };
    // Their shortcuts are read from the standard defaults.
    void setHotKeys(std::vector<HotKeyUse> hotKeys) { m_hotKeys = std::move(hotKeys); }

    bool isShortcutValid(const Shortcut &shortcut) const;
    // Held by another program or one of the desktop's standard shortcuts
    // (Copy, Paste, Save, Quit, …: a global grab would take them from every
    // program), else taken in the main menu. The explanation, when given,
    // receives the sentence to show.
    bool isShortcutAlreadyTakenBySystem(const Shortcut &shortcut,
                                        QString *explanation = nullptr) const;
    // Stored for a hot key other than the one under `ownKey`: one
    // combination would run two actions.
    bool isShortcutTakenByHotKey(const Shortcut &shortcut, const QString &ownKey,
                                 QString *explanation = nullptr) const;
    bool isShortcutAlreadyTakenInMenu(const Shortcut &shortcut, const Menu &menu,
                                      QString *explanation = nullptr) const;

private:
    std::shared_ptr<HotKeyCenter> center() const;

    std::shared_ptr<HotKeyCenter> m_center;
    MenuPtr m_mainMenu;
    MenuPtr m_servicesMenu;
    std::vector<HotKeyUse> m_hotKeys;
};

} // namespace corvane
