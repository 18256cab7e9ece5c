#include "location/LocationsSettings.h"

#include "platform/desktop/SettingsOpener.h"

namespace corvane {

void showLocationsSettings()
{
    SettingsOpener::showPane("locations");
}

} // namespace corvane
