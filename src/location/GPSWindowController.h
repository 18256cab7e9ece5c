#pragma once

#include "platform/WindowController.h"

#include <memory>

namespace corvane {

// The window of location playback; it has no window until the GPS window
// lands, so showing it does nothing.
class GPSWindowController : public WindowController {
public:
    static std::shared_ptr<GPSWindowController> shared();

    void showWindow() override {}
    bool hasWindow() const override { return false; }
    void setStaysOnTop(bool) override {}
    void raise() override {}
    void focusContent() override {}
};

} // namespace corvane
