#pragma once

#include <memory>

namespace corvane {

class UserDefaults;

// The Simulator application's preferences in the current home folder, where
// its touch switches live; read afresh on each read.
std::shared_ptr<UserDefaults> simulatorDefaults();

inline constexpr const char *simulatorDomain = "com.apple.iphonesimulator";
inline constexpr const char *showSingleTouchesKey = "ShowSingleTouches";
inline constexpr const char *showPinchesKey = "ShowPinches";

// Write the switch through the defaults tool, so the Simulator sees the
// change, and wait for it; a failing run keeps the old value.
void setShowSingleTouches(bool show);
void setShowPinches(bool show);

} // namespace corvane
