#pragma once

#include "platform/WindowController.h"

#include <memory>

namespace corvane {

// The window of location playback; it has no window until the GPS window
// lands, so showing it does nothing.
class GPSWindowController : public AbsentWindowController {
public:
    static std::shared_ptr<GPSWindowController> shared();
};

} // namespace corvane
