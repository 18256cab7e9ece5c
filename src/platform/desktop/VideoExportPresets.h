#pragma once

#include <QStringList>

namespace corvane::VideoExportPresets {

// The preset that proves the system can write HEVC video.
inline constexpr const char *hevcHighestQuality = "AVAssetExportPresetHEVCHighestQuality";

// The names of every video export preset the system offers. None on Linux,
// which has no video export session.
QStringList allExportPresets();

} // namespace corvane::VideoExportPresets
