#pragma once

#include "platform/WindowController.h"

#include <memory>

namespace corvane {

// The window that lists the tasks; it has no window until the task window
// lands, so showing it does nothing.
class TaskWindowController : public AbsentWindowController {
public:
    static std::shared_ptr<TaskWindowController> shared();
};

} // namespace corvane
