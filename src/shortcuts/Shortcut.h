#pragma once

#include "platform/KeyModifiers.h"

#include <QString>
#include <QVariant>

#include <optional>

namespace corvane {

// One keyboard shortcut: a virtual key code and modifier flags. Only what the
// status menus read of the stored shortcuts: their key as a key-equivalent
// string and their modifiers.
struct Shortcut {
    static constexpr qint64 noKey = -1;

    qint64 keyCode = noKey;
    quint64 modifierFlags = 0;

    // The value stored under a shortcut's user-defaults key: a keyed archive
    // (binary or XML property list) holding "KeyCode" and "ModifierFlags".
    // Nothing for a missing or unreadable value.
    static std::optional<Shortcut> fromStoredValue(const std::optional<QVariant> &value);
    // A stored value for this shortcut, in the form fromStoredValue reads.
    QByteArray archived() const;

    // The key as a menu key equivalent, or nothing when it has none.
    std::optional<QString> keyCodeStringForKeyEquivalent() const;
    KeyModifiers keyEquivalentModifierMask() const;

    bool operator==(const Shortcut &) const = default;
};

} // namespace corvane
