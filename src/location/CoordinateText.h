#pragma once

#include <QGeoCoordinate>
#include <QStringView>

#include <optional>

namespace corvane {

// Reads a typed "latitude, longitude". The text is split at every comma;
// each trimmed piece that is wholly one C-locale number counts, the others
// are dropped. Exactly two numbers must remain, the latitude within
// -90...90, the longitude within -180...180, and not both 0.
std::optional<QGeoCoordinate> parseCoordinateText(QStringView text);

} // namespace corvane
