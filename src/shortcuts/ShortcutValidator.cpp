#include "shortcuts/ShortcutValidator.h"

#include "platform/hotkeys/HotKeyCenter.h"
#include "platform/hotkeys/KeyCodes.h"
#include "platform/menus/KeyEquivalents.h"
#include "platform/defaults/UserDefaults.h"

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

// Whether a shortcut types a key equivalent; `shortcutKey` is the
// shortcut's key as a key equivalent. An upper-case key implies Shift.
bool typesKeyEquivalent(const Shortcut &shortcut, const QString &shortcutKey, const QString &key,
                        KeyModifiers mask)
{
    // A key equivalent without a key clashes with nothing.
    if (key.isEmpty() || key.toLower() != shortcutKey)
        return false;
    const unsigned bits = mask.toInt();
    const uint64_t needed =
        key == key.toLower() ? bits & kWithFunction : (bits & kWithFunctionNoShift) | kShift;
    return needed == shortcut.modifierFlags();
}

// The desktop's own shortcuts, which every program's windows expect.
bool isDesktopShortcut(const Shortcut &shortcut)
{
    static constexpr QKeySequence::StandardKey kStandardKeys[] = {
        QKeySequence::Copy,  QKeySequence::Paste,     QKeySequence::Cut,  QKeySequence::Undo,
        QKeySequence::Redo,  QKeySequence::SelectAll, QKeySequence::Save, QKeySequence::Open,
        QKeySequence::New,   QKeySequence::Close,     QKeySequence::Quit, QKeySequence::Find,
        QKeySequence::Print, QKeySequence::Refresh,
    };
    const QString key = shortcut.keyCodeStringForKeyEquivalent();
    for (const auto standardKey : kStandardKeys)
        for (const auto &binding : KeyEquivalents::forStandardKey(standardKey))
            if (typesKeyEquivalent(shortcut, key, binding.key, binding.modifiers))
                return true;
    // Every Linux desktop quits with Ctrl+Q (⌘Q), also where the platform's
    // key scheme binds Quit to nothing (the Windows-style one).
    return typesKeyEquivalent(shortcut, key, QStringLiteral("q"), KeyModifier::Command);
}

bool sameCombination(const Shortcut &a, const Shortcut &b)
{
    return a.carbonKeyCode() == b.carbonKeyCode() && a.carbonFlags() == b.carbonFlags();
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

bool ShortcutValidator::isShortcutTakenByHotKey(const Shortcut &shortcut, const QString &ownKey,
                                                QString *explanation) const
{
    const auto defaults = UserDefaults::standard();
    for (const HotKeyUse &hotKey : m_hotKeys) {
        if (hotKey.defaultsKey == ownKey)
            continue;
        const auto stored = Shortcut::fromStoredValue(defaults->object(hotKey.defaultsKey));
        if (!stored || !sameCombination(*stored, shortcut))
            continue;
        if (explanation)
            *explanation = shortcutText("This shortcut cannot be used because it is already "
                                        "used by ‘%1’.")
                               .arg(hotKey.title);
        return true;
    }
    return false;
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
    if (isDesktopShortcut(shortcut) ||
        center()->isHeldElsewhere(int(shortcut.carbonKeyCode()), shortcut.carbonFlags())) {
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
        if (!typesKeyEquivalent(shortcut, key, item->keyEquivalent(),
                                item->keyEquivalentModifierMask()))
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
