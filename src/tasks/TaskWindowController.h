#pragma once

#include "platform/WindowController.h"

#include <memory>

namespace corvane {

// The window that lists the tasks; it has no window until the task window
// lands, so showing it does nothing.
class TaskWindowController : public WindowController {
public:
    static std::shared_ptr<TaskWindowController> shared();

    void showWindow() override {}
    bool hasWindow() const override { return false; }
    void setStaysOnTop(bool) override {}
    void raise() override {}
    void focusContent() override {}
};

} // namespace corvane
