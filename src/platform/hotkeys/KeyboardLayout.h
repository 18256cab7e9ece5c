#pragma once

#include <QString>

class QKeyEvent;

namespace corvane::KeyboardLayout {

// What the key (a Carbon virtual key code) types without modifiers on the
// user's keyboard layout: under X11 the character of the key's first keysym,
// elsewhere that of a US keyboard. Empty when it types nothing. Any thread.
QString characterForKey(int carbonKeyCode);

// What the key of the event types without modifiers on the user's layout,
// known only on X11; empty elsewhere.
QString unshiftedCharacter(const QKeyEvent &event);

} // namespace corvane::KeyboardLayout
