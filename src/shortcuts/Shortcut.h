#pragma once

#include "platform/menus/KeyModifiers.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;

namespace corvane {

// One key combination: a Carbon virtual key code and modifier flags with the
// event system's bits. Stored in user defaults as a keyed archive.
class Shortcut {
public:
    // The key code of a shortcut without a key.
    static constexpr int64_t NotFound = INT64_MAX;
    static constexpr uint64_t Shift = 0x20000;
    static constexpr uint64_t Control = 0x40000;
    static constexpr uint64_t Option = 0x80000;
    static constexpr uint64_t Command = 0x100000;
    static constexpr uint64_t modifierMask = Shift | Control | Option | Command;

    // Keeps only Shift, Control, Option and Command of the flags.
    Shortcut(int64_t keyCode, uint64_t modifierFlags);
    // The pressed key (by its position) and modifiers of a key event.
    static Shortcut fromKeyEvent(const QKeyEvent &event);

    int64_t keyCode() const { return m_keyCode; }
    uint64_t modifierFlags() const { return m_modifierFlags; }

    // For hot-key registration: no key gives 0.
    uint32_t carbonKeyCode() const;
    uint32_t carbonFlags() const;

    // ⌃⌥⇧⌘ for the modifiers present, in that order.
    QString modifierFlagsString() const;
    // The key's name ("F5", "↩", "Space") or, for other keys, the upper-cased
    // character it types on the current layout; empty when there is none.
    QString keyCodeString() const;
    // The key as a menu key equivalent: control characters for Return, Tab,
    // Space, Delete and Escape, the function-key characters (U+F700 …) for
    // F-keys, arrows and the navigation keys, else keyCodeString lower-cased.
    QString keyCodeStringForKeyEquivalent() const;
    KeyModifiers keyEquivalentModifierMask() const;
    QString description() const;

    // The stored form: a binary keyed archive of class "Shortcut".
    QByteArray archived() const;
    // Decodes an archive; anything else (missing, not data, another class,
    // malformed) is no shortcut. The modifier flags are taken as stored.
    static std::optional<Shortcut> fromArchive(const QByteArray &bytes);
    static std::optional<Shortcut> fromStoredValue(const std::optional<QVariant> &value);

    bool operator==(const Shortcut &) const = default;

private:
    struct Unmasked {};
    Shortcut(int64_t keyCode, uint64_t modifierFlags, Unmasked)
        : m_keyCode(keyCode), m_modifierFlags(modifierFlags)
    {
    }

    int64_t m_keyCode;
    uint64_t m_modifierFlags;
};

// Texts of the shortcut classes; English is built in.
QString shortcutText(const char *english);

} // namespace corvane

template <> struct std::hash<corvane::Shortcut> {
    size_t operator()(const corvane::Shortcut &shortcut) const noexcept
    {
        return size_t(uint64_t(shortcut.keyCode()) + shortcut.modifierFlags());
    }
};
