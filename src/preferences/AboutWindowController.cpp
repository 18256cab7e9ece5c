#include "preferences/AboutWindowController.h"

namespace corvane {

std::shared_ptr<WindowController> AboutWindowController::make()
{
    return nullptr;
}

} // namespace corvane
