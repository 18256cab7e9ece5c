#pragma once

#include <xcb/xcb.h>

#include <initializer_list>
#include <vector>

namespace corvane::test {

// A second client of the display: types through XTest, which the server
// treats as real key presses (unlike sent events, they activate grabs), and
// grabs keys of its own.
class XTestKeyboard {
public:
    XTestKeyboard();
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard &) = delete;
    XTestKeyboard &operator=(const XTestKeyboard &) = delete;

    bool isConnected() const;
    void press(xcb_keycode_t keycode);
    void release(xcb_keycode_t keycode);
    // Presses the modifier keys of the mask, taps the key, releases them.
    void tap(xcb_keycode_t keycode, uint16_t modifiers);
    // The first key of each modifier bit in the mask.
    std::vector<xcb_keycode_t> modifierKeys(uint16_t modifiers);
    xcb_keycode_t keycodeFor(xcb_keysym_t keysym);
    // The state of the lock modifiers: 0 off.
    uint16_t lockedModifiers();

    bool grab(xcb_keycode_t keycode, uint16_t modifiers);
    void ungrab(xcb_keycode_t keycode, uint16_t modifiers);
    // Makes the key type this keysym, as a layout switch would.
    void remap(xcb_keycode_t keycode, xcb_keysym_t keysym);

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
};

} // namespace corvane::test
