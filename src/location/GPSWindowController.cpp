#include "location/GPSWindowController.h"

namespace corvane {

std::shared_ptr<GPSWindowController> GPSWindowController::shared()
{
    static const auto controller = std::make_shared<GPSWindowController>();
    return controller;
}

} // namespace corvane
