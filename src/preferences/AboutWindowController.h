#pragma once

#include "platform/WindowController.h"

#include <memory>

namespace corvane {

// The about box. Until its content lands there is none: make() gives
// nothing, and an about request only activates the program.
class AboutWindowController : public WindowController {
public:
    static std::shared_ptr<WindowController> make();
};

} // namespace corvane
