#pragma once

#include <QString>

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace corvane::KeyCodes {

// Carbon virtual key codes are the vocabulary of stored shortcuts; on X11 a
// key is an X keycode (the kernel's evdev code plus 8). Keys are matched by
// their position on the keyboard, and the modifier keys follow the modifier
// mapping: Command is Ctrl, Control is Super, Option is Alt.
std::optional<int> xKeycodeForCarbon(int carbonKeyCode);
std::optional<int> carbonForXKeycode(int xKeycode);
// Every (Carbon key code, X keycode) pair, one per key.
const std::vector<std::pair<int, int>> &carbonToXKeycodes();

// What the key types on a US keyboard without modifiers, for platforms that
// cannot tell the user's layout; nothing for keys that type no character.
std::optional<QString> usLayoutCharacter(int carbonKeyCode);
// The key that types this character on a US keyboard.
std::optional<int> carbonForUSLayoutCharacter(const QString &character);

// The Carbon key codes of F1 to F20, in order.
inline constexpr std::array<int, 20> functionKeys{122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                                  103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

// The Carbon modifier bits of a hot-key registration.
enum CarbonModifier : unsigned {
    cmdKey = 0x100,
    shiftKey = 0x200,
    optionKey = 0x800,
    controlKey = 0x1000,
};

} // namespace corvane::KeyCodes
