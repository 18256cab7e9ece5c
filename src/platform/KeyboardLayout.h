#pragma once

#include <QString>

namespace corvane::KeyboardLayout {

// What the key (a Carbon virtual key code) types without modifiers on the
// user's keyboard layout: under X11 the character of the key's first keysym,
// elsewhere that of a US keyboard. Empty when it types nothing. Any thread.
QString characterForKey(int carbonKeyCode);

} // namespace corvane::KeyboardLayout
