#pragma once

#include "core/Location.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <vector>

namespace corvane {

// A route as JSON, the form of the last-locations file: an array of objects
// with "cordinate" ({"lat", "lon"}), "altitude", "horizontalAccuracy",
// "verticalAccuracy", "speed", "course" and "timestamp" (seconds since
// 2001-01-01T00:00Z); every key is required and every value is a finite
// number. Both directions work a piece at a time and build no document, so
// a route of millions of points costs little more than its own locations.

// Seconds from 1970-01-01 to 2001-01-01, UTC.
constexpr double locationArrayReferenceDate = 978307200.0;

// Hands the compact text to `write` in pieces of about 64 KiB; false when a
// value has no JSON form (it is not finite) or `write` returned false.
bool writeLocationArray(const std::vector<Location> &locations,
                        const std::function<bool(const QByteArray &piece)> &write);

// Fills the buffer: the count read, 0 at the end, -1 on failure.
using LocationArrayFill = std::function<qint64(char *buffer, qint64 length)>;

// Reads the array from what `fill` gives. It takes any JSON a document
// reader takes (white space, a byte-order mark, any key order, keys it does
// not know with values of any kind) and refuses what it refuses; one
// element that is no complete location fails the whole array. Nothing when
// the text is no such array or a fill failed (then `fillFailed` is set).
// Linear in the input; nesting inside unknown values is bounded.
std::optional<std::vector<Location>> readLocationArray(const LocationArrayFill &fill,
                                                       bool *fillFailed = nullptr);

} // namespace corvane
