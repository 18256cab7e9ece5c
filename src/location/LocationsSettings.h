#pragma once

#include <QString>

#include <functional>

namespace corvane {

// Shows the settings window at a pane. The application delegate installs the
// way it does that; without a delegate (tests, tools) nothing happens.
void setPreferencesPaneOpener(std::function<void(const QString &pane)> opener);

// "Manage Presets…": the settings window at its "locations" pane.
void showLocationsSettings();

} // namespace corvane
