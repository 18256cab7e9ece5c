#include "location/MapOverlay.h"

#include "location/MapProjection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace corvane {

PolylineGeometry::PolylineGeometry(const std::vector<QGeoCoordinate> &coordinates)
    : m_coordinates(coordinates)
{
    project();
}

PolylineGeometry::PolylineGeometry(const std::vector<Location> &locations)
{
    m_coordinates.reserve(locations.size());
    for (const Location &location : locations)
        m_coordinates.push_back(location.coordinate);
    project();
}

void PolylineGeometry::project()
{
    m_world.reserve(m_coordinates.size());
    double left = 0, top = 0, right = 0, bottom = 0;
    for (const QGeoCoordinate &coordinate : m_coordinates) {
        const QPointF point = map::worldPoint(coordinate);
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            continue;
        if (m_world.empty()) {
            left = right = point.x();
            top = bottom = point.y();
        } else {
            left = std::min(left, point.x());
            right = std::max(right, point.x());
            top = std::min(top, point.y());
            bottom = std::max(bottom, point.y());
        }
        m_world.push_back(point);
    }
    m_bounds = QRectF(QPointF(left, top), QPointF(right, bottom));
}

namespace {

double segmentDistanceSquared(const QPointF &point, const QPointF &a, const QPointF &b)
{
    const QPointF ab = b - a;
    const double length = ab.x() * ab.x() + ab.y() * ab.y();
    double t = 0;
    if (length > 0)
        t = std::clamp(((point.x() - a.x()) * ab.x() + (point.y() - a.y()) * ab.y()) / length, 0.0,
                       1.0);
    const QPointF delta = point - (a + ab * t);
    return delta.x() * delta.x() + delta.y() * delta.y();
}

// Points closer than the tolerance to the last kept one go.
std::vector<QPointF> dropCrowded(const std::vector<QPointF> &points, double toleranceSquared)
{
    std::vector<QPointF> kept;
    kept.reserve(std::min<size_t>(points.size(), 16384));
    kept.push_back(points.front());
    for (size_t i = 1; i + 1 < points.size(); ++i) {
        const QPointF delta = points[i] - kept.back();
        if (delta.x() * delta.x() + delta.y() * delta.y() > toleranceSquared)
            kept.push_back(points[i]);
    }
    if (points.size() > 1)
        kept.push_back(points.back());
    return kept;
}

// Douglas-Peucker, without recursion: a point stays when the line through
// its neighbours that stay would pass farther than the tolerance from it.
std::vector<QPointF> dropStraight(const std::vector<QPointF> &points, double toleranceSquared)
{
    if (points.size() < 3)
        return points;
    std::vector<std::uint8_t> keep(points.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<size_t, size_t>> spans{{0, points.size() - 1}};
    while (!spans.empty()) {
        const auto [first, last] = spans.back();
        spans.pop_back();
        double farthest = 0;
        size_t index = 0;
        for (size_t i = first + 1; i < last; ++i) {
            const double distance = segmentDistanceSquared(points[i], points[first], points[last]);
            if (distance > farthest) {
                farthest = distance;
                index = i;
            }
        }
        if (farthest > toleranceSquared) {
            keep[index] = 1;
            spans.emplace_back(first, index);
            spans.emplace_back(index, last);
        }
    }
    std::vector<QPointF> kept;
    for (size_t i = 0; i < points.size(); ++i)
        if (keep[i])
            kept.push_back(points[i]);
    return kept;
}

} // namespace

const std::vector<QPointF> &PolylineGeometry::simplified(int level) const
{
    level = std::clamp(level, 0, levels - 1);
    if (level >= m_fullFromLevel)
        return m_world;
    auto &cached = m_simplified[size_t(level)];
    if (cached)
        return *cached;
    if (m_world.size() < 3) {
        m_fullFromLevel = level;
        return m_world;
    }

    // Half a point at this level: finer detail would not show. Dropping
    // crowded points first keeps the second, slower pass short.
    const double tolerance = 0.5 / std::exp2(level);
    std::vector<QPointF> kept =
        dropStraight(dropCrowded(m_world, tolerance * tolerance), tolerance * tolerance);
    if (kept.size() == m_world.size()) {
        // Finer levels drop nothing either.
        m_fullFromLevel = level;
        return m_world;
    }
    cached = std::move(kept);
    return *cached;
}

MapAnnotation::MapAnnotation(QString title, const QGeoCoordinate &coordinate, QImage image)
    : m_title(std::move(title)), m_coordinate(coordinate), m_image(std::move(image))
{
}

void MapAnnotation::setCoordinate(const QGeoCoordinate &coordinate)
{
    m_coordinate = coordinate;
    emit changed();
}

void MapAnnotation::setImage(const QImage &image)
{
    m_image = image;
    emit changed();
}

} // namespace corvane
