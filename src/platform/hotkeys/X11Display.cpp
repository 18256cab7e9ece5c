#include "platform/hotkeys/X11Display.h"

#include <QGuiApplication>

namespace corvane {

std::optional<X11Display> X11Display::current()
{
    auto *app = qGuiApp;
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        return std::nullopt;
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    if (!screens.rem)
        return std::nullopt;
    return X11Display{connection, screens.data->root};
}

} // namespace corvane
