#pragma once

#include "core/Location.h"
#include "location/DrawMode.h"
#include "location/GPXParser.h"

#include <optional>
#include <vector>

namespace corvane {

// Completes a track read from a GPX file, given the kinds of data no point
// carried (`missing`):
// - lacking courses, each point but the last heads for the next one;
// - lacking speeds but not times, each speed is the distance from the
//   previous point over the time between them (kept where that time is not
//   positive);
// - lacking times, the speed is the mode's (or stays as read without a
//   mode) and each time follows from the previous filled point at that
//   speed; a point without a positive speed keeps its own time.
// Coordinates, altitudes and accuracies are kept.
std::vector<Location> fillTrack(const std::vector<Location> &locations,
                                const std::vector<GPXParser::ParseResults> &missing,
                                std::optional<DrawMode> mode);

} // namespace corvane
