#include "tasks/TaskWindowController.h"

namespace corvane {

std::shared_ptr<TaskWindowController> TaskWindowController::shared()
{
    static const auto controller = std::make_shared<TaskWindowController>();
    return controller;
}

} // namespace corvane
