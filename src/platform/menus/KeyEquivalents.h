#pragma once

#include "platform/menus/KeyModifiers.h"

#include <QKeySequence>
#include <QString>

#include <optional>
#include <vector>

namespace corvane::KeyEquivalents {

// A menu key equivalent as a Mac menu holds it, with the Mac's modifiers:
// Ctrl is Command, Meta is Control, Alt is Option. Letters are lower case
// (an upper-case one implies Shift); keys that type no character are the
// control characters of Return, Tab, Space, Backspace and Escape, or the
// function-key characters from U+F700 of the arrows, F1 to F19 and the
// navigation keys (Help is the key in Insert's place).
struct KeyEquivalent {
    QString key;
    KeyModifiers modifiers;
    bool operator==(const KeyEquivalent &) const = default;
};

// The Mac modifiers of Qt's (Ctrl is Command, Meta is Control, Alt is Option).
KeyModifiers fromQtModifiers(Qt::KeyboardModifiers modifiers);
// The widget shortcut of a key equivalent; empty for an empty key.
QKeySequence keySequence(const QString &key, KeyModifiers mask);
// Nothing for keys a key equivalent cannot name (media keys, modifiers
// alone).
std::optional<KeyEquivalent> fromKeyCombination(QKeyCombination combination);
// Whether a pressed key names the key equivalent: the same modifiers and
// the same key, or, for a key that types a character, the key that types it
// without modifiers (`unshifted`, empty when unknown), so that ⇧⌘1 is the
// press of Ctrl, Shift and the key 1, whatever Shift makes that key type.
// Keypad Enter is Return, Shift+Tab is Tab.
bool matches(const QString &key, KeyModifiers mask, QKeyCombination pressed,
             const QString &unshifted = {});
// The desktop's one-chord bindings of a standard action (Copy, Paste, …).
std::vector<KeyEquivalent> forStandardKey(QKeySequence::StandardKey standardKey);

} // namespace corvane::KeyEquivalents
