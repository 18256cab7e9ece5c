#include "XTestKeyboard.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>

namespace corvane::test {

namespace {
struct FreeDeleter {
    void operator()(void *memory) const { std::free(memory); }
};
} // namespace

XTestKeyboard::XTestKeyboard()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
}

XTestKeyboard::~XTestKeyboard()
{
    xcb_disconnect(m_connection);
}

bool XTestKeyboard::isConnected() const
{
    return !xcb_connection_has_error(m_connection);
}

void XTestKeyboard::press(xcb_keycode_t keycode)
{
    xcb_test_fake_input(m_connection, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, m_root, 0, 0, 0);
    // A round trip, so the server has it before the caller waits.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void XTestKeyboard::release(xcb_keycode_t keycode)
{
    xcb_test_fake_input(m_connection, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, m_root, 0, 0, 0);
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void XTestKeyboard::tap(xcb_keycode_t keycode, uint16_t modifiers)
{
    const auto modifierCodes = modifierKeys(modifiers);
    for (xcb_keycode_t code : modifierCodes)
        press(code);
    press(keycode);
    release(keycode);
    for (auto code = modifierCodes.rbegin(); code != modifierCodes.rend(); ++code)
        release(*code);
}

std::vector<xcb_keycode_t> XTestKeyboard::modifierKeys(uint16_t modifiers)
{
    std::vector<xcb_keycode_t> keys;
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, FreeDeleter> mapping(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection),
                                       nullptr));
    if (!mapping)
        return keys;
    const int perModifier = mapping->keycodes_per_modifier;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    for (int bit = 0; bit < 8; ++bit) {
        if (!(modifiers & (1u << bit)))
            continue;
        for (int i = 0; i < perModifier; ++i)
            if (codes[bit * perModifier + i]) {
                keys.push_back(codes[bit * perModifier + i]);
                break;
            }
    }
    return keys;
}

xcb_keycode_t XTestKeyboard::keycodeFor(xcb_keysym_t keysym)
{
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    std::unique_ptr<xcb_keycode_t, FreeDeleter> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    xcb_key_symbols_free(symbols);
    return codes ? *codes : 0;
}

uint16_t XTestKeyboard::lockedModifiers()
{
    std::unique_ptr<xcb_query_pointer_reply_t, FreeDeleter> pointer(
        xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr));
    return pointer ? pointer->mask & 0xFF : 0;
}

bool XTestKeyboard::grab(xcb_keycode_t keycode, uint16_t modifiers)
{
    std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(xcb_request_check(
        m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    return !error;
}

void XTestKeyboard::ungrab(xcb_keycode_t keycode, uint16_t modifiers)
{
    std::free(xcb_request_check(m_connection,
                                xcb_ungrab_key_checked(m_connection, keycode, m_root, modifiers)));
}

void XTestKeyboard::remap(xcb_keycode_t keycode, xcb_keysym_t keysym)
{
    const xcb_keysym_t keysyms[2] = {keysym, keysym};
    std::free(xcb_request_check(
        m_connection, xcb_change_keyboard_mapping_checked(m_connection, 1, keycode, 2, keysyms)));
}

} // namespace corvane::test
