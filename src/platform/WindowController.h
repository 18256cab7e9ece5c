#pragma once

namespace corvane {

// A window the shell presents on request (settings, about box, tasks). A
// controller may have no window yet, or none at all.
class WindowController {
public:
    virtual ~WindowController() = default;

    virtual void showWindow() = 0;
    virtual bool hasWindow() const = 0;
    // Above normal and floating windows, other programs' included.
    virtual void setStaysOnTop(bool staysOnTop) = 0;
    virtual void raise() = 0;
    // Gives the keyboard focus to the window's content.
    virtual void focusContent() = 0;
};

} // namespace corvane
