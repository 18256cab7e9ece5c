#include "platform/hotkeys/KeyboardLayout.h"

#include "platform/hotkeys/KeyCodes.h"
#include "platform/hotkeys/X11Display.h"

#include <QKeyEvent>

#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace corvane::KeyboardLayout {

namespace {

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t *symbols) const { xcb_key_symbols_free(symbols); }
};

// Asked afresh each time, so a layout switched meanwhile is seen; the calls
// are rare (menu construction, the settings pane).
QString x11Character(const X11Display &display, int carbonKeyCode)
{
    const auto keycode = KeyCodes::xKeycodeForCarbon(carbonKeyCode);
    if (!keycode)
        return {};
    std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter> symbols(
        xcb_key_symbols_alloc(display.connection));
    if (!symbols)
        return {};
    const xcb_keysym_t keysym =
        xcb_key_symbols_get_keysym(symbols.get(), xcb_keycode_t(*keycode), 0);
    if (keysym == XCB_NO_SYMBOL)
        return {};
    const char32_t character = xkb_keysym_to_utf32(keysym);
    if (character == 0)
        return {};
    return QString::fromUcs4(&character, 1);
}

} // namespace

QString characterForKey(int carbonKeyCode)
{
    if (auto display = X11Display::current())
        return x11Character(*display, carbonKeyCode);
    return KeyCodes::usLayoutCharacter(carbonKeyCode).value_or(QString());
}

QString unshiftedCharacter(const QKeyEvent &event)
{
    if (!event.nativeScanCode() || !X11Display::current())
        return {};
    const auto carbon = KeyCodes::carbonForXKeycode(int(event.nativeScanCode()));
    return carbon ? characterForKey(*carbon) : QString();
}

} // namespace corvane::KeyboardLayout
