#include "location/TrackFill.h"

#include "core/Geodesy.h"

#include <algorithm>

namespace corvane {

std::vector<Location> fillTrack(const std::vector<Location> &locations,
                                const std::vector<GPXParser::ParseResults> &missing,
                                std::optional<DrawMode> mode)
{
    using Kind = GPXParser::ParseResults;
    const auto lacks = [&missing](Kind kind) {
        return std::find(missing.begin(), missing.end(), kind) != missing.end();
    };
    const bool lacksCourse = lacks(Kind::course);
    const bool lacksSpeed = lacks(Kind::speed);
    const bool lacksTime = lacks(Kind::timestamp);

    std::vector<Location> filled;
    filled.reserve(locations.size());
    for (std::size_t i = 0; i < locations.size(); ++i) {
        const Location &point = locations[i];
        Location location = point;

        if (lacksCourse && i + 1 < locations.size())
            location.course = bearing(point.coordinate, locations[i + 1].coordinate);

        if (lacksTime) {
            if (mode)
                location.speed = metresPerSecond(*mode);
            if (!filled.empty() && location.speed > 0) {
                const Location &previous = filled.back();
                location.timestamp =
                    previous.timestamp +
                    distanceMetres(previous.coordinate, point.coordinate) / location.speed;
            }
        } else if (lacksSpeed && i > 0) {
            const Location &previous = locations[i - 1];
            const double seconds = point.timestamp - previous.timestamp;
            if (seconds > 0)
                location.speed = distanceMetres(previous.coordinate, point.coordinate) / seconds;
        }
        filled.push_back(location);
    }
    return filled;
}

} // namespace corvane
