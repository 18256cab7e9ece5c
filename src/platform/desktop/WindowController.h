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

// A controller whose window is not built yet: showing it does nothing.
class AbsentWindowController : public WindowController {
public:
    void showWindow() override {}
    bool hasWindow() const override { return false; }
    void setStaysOnTop(bool) override {}
    void raise() override {}
    void focusContent() override {}
};

} // namespace corvane
