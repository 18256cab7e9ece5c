#pragma once

#include "platform/menus/ActionTarget.h"
#include "platform/desktop/CurrentLocationProvider.h"

#include <memory>

namespace corvane {

// Sends one place to the simulators as a one-point route: a location preset,
// a typed coordinate or the machine's own position. The Go menu's items and
// the GPS window reach these as actions; used on the main thread.
//
// The position provider is one per process, made on the first request for
// the current location; what it delivers goes to the playback engine, not to
// whoever asked, so a window closed in between loses nothing.
class GoToActions : public ActionTarget {
public:
    static constexpr const char *gotoLocationPresetAction = "gotoLocationPreset:";
    static constexpr const char *gotoManualCoordinateAction = "gotoManualCoordinate:";
    static constexpr const char *gotoCurrentLocationAction = "gotoCurrentLocation:";

    static std::shared_ptr<GoToActions> make();

    // The sender must be a menu item whose represented object is a
    // LocationPreset; anything else does nothing.
    void gotoLocationPreset(const ObjectPtr &sender);
    // Asks with the coordinate prompt; only "Go" with a valid text loads.
    void gotoManualCoordinate();
    // Reports disabled services or a denied authorization in an alert; asks
    // for authorization when it was never asked, else for one position.
    void gotoCurrentLocation();

    // The process-wide provider, made (with CurrentLocationProvider::make)
    // when first needed.
    static std::shared_ptr<CurrentLocationProvider> currentLocationProvider();
    // Tests: the next request makes a new provider.
    static void resetCurrentLocationProvider();

protected:
    GoToActions();
};

} // namespace corvane
