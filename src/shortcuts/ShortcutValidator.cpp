#include "shortcuts/ShortcutValidator.h"

#include "platform/HotKeyCenter.h"
#include "platform/KeyCodes.h"

#include <algorithm>

namespace corvane {

namespace {

constexpr std::array kFunctionKeys{122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                   103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
constexpr int64_t kSpace = 49;
constexpr int64_t kEscape = 53;
constexpr uint64_t kShift = Shortcut::Shift;
constexpr uint64_t kControl = Shortcut::Control;
constexpr uint64_t kOption = Shortcut::Option;
constexpr uint64_t kCommand = Shortcut::Command;
constexpr unsigned kWithFunction = 0x9E0000;
constexpr unsigned kWithFunctionNoShift = 0x9C0000;

// The modifiers an item's key equivalent needs: an upper-case key implies
// Shift.
uint64_t effectiveModifiers(const MenuItem &item)
{
    const QString key = item.keyEquivalent();
    const unsigned mask = item.keyEquivalentModifierMask().toInt();
    if (key == key.toLower())
        return mask & kWithFunction;
    return (mask & kWithFunctionNoShift) | kShift;
}

} // namespace

std::shared_ptr<ShortcutValidator> ShortcutValidator::sharedValidator()
{
    static const auto validator = std::make_shared<ShortcutValidator>();
    return validator;
}

ShortcutValidator::ShortcutValidator(std::shared_ptr<HotKeyCenter> center)
    : m_center(std::move(center))
{
}

std::shared_ptr<HotKeyCenter> ShortcutValidator::center() const
{
    return m_center ? m_center : HotKeyCenter::shared();
}

bool ShortcutValidator::isShortcutValid(const Shortcut &shortcut) const
{
    const int64_t key = shortcut.keyCode();
    const auto &functionKeys = KeyCodes::functionKeys;
    if (std::find(functionKeys.begin(), functionKeys.end(), key) != functionKeys.end())
        return true;
    const uint64_t flags = shortcut.modifierFlags();
    if (!(flags & (kShift | kControl | kOption | kCommand)))
        return false;
    if (flags & (kCommand | kControl))
        return true;
    if (!(flags & kOption))
        return false;
    return key == kSpace || key == kEscape || allowAnyShortcutWithOptionModifier;
}

bool ShortcutValidator::isShortcutAlreadyTakenBySystem(const Shortcut &shortcut,
                                                       QString *explanation) const
{
    if (center()->isHeldElsewhere(int(shortcut.carbonKeyCode()), shortcut.carbonFlags())) {
        if (explanation)
            *explanation = shortcutText(
                "This combination cannot be used because it is already used by a system-wide "
                "keyboard shortcut.\nIf you really want to use this key combination, most "
                "shortcuts can be changed in the Keyboard & Mouse panel in System Preferences.");
        return true;
    }
    return m_mainMenu && isShortcutAlreadyTakenInMenu(shortcut, *m_mainMenu, explanation);
}

bool ShortcutValidator::isShortcutAlreadyTakenInMenu(const Shortcut &shortcut, const Menu &menu,
                                                     QString *explanation) const
{
    if (allowOverridingServicesShortcut && m_servicesMenu && &menu == m_servicesMenu.get())
        return false;
    const QString key = shortcut.keyCodeStringForKeyEquivalent();
    for (const MenuItemPtr &item : menu.items()) {
        if (auto submenu = item->submenu();
            submenu && isShortcutAlreadyTakenInMenu(shortcut, *submenu, explanation))
            return true;
        // A row without a key equivalent clashes with nothing.
        if (item->keyEquivalent().isEmpty() || item->keyEquivalent().toLower() != key ||
            effectiveModifiers(*item) != shortcut.modifierFlags())
            continue;
        if (explanation)
            *explanation =
                shortcutText("This shortcut cannot be used because it is already used by the "
                             "menu item ‘%1’.")
                    .arg(item->title());
        return true;
    }
    return false;
}

} // namespace corvane
