#pragma once

#include <QFlags>

namespace corvane {

// Modifier flags of key equivalents and of the current keyboard state, with
// the event system's bit values (Option is 0x80000).
enum class KeyModifier : unsigned {
    None = 0,
    CapsLock = 1u << 16,
    Shift = 1u << 17,
    Control = 1u << 18,
    Option = 1u << 19,
    Command = 1u << 20,
    Function = 1u << 23,
};
Q_DECLARE_FLAGS(KeyModifiers, KeyModifier)
Q_DECLARE_OPERATORS_FOR_FLAGS(KeyModifiers)

} // namespace corvane
