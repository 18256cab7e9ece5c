#pragma once

#include <xcb/xcb.h>

#include <optional>

namespace corvane {

// The X display the Qt application talks to, when it runs on X11.
struct X11Display {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;

    // Nothing on other platforms (Wayland, offscreen) or without a GUI
    // application.
    static std::optional<X11Display> current();
};

} // namespace corvane
