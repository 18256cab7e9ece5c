#pragma once

namespace corvane {

// "Manage Presets…": the settings window at its "locations" pane, through
// the opener the application shell installs; without one nothing happens.
void showLocationsSettings();

} // namespace corvane
