#include "location/LocationsSettings.h"

#include "platform/SettingsOpener.h"

namespace corvane {

void showLocationsSettings()
{
    SettingsOpener::showPane("locations");
}

} // namespace corvane
