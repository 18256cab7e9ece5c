#include "location/MapOverlay.h"

#include "location/MapProjection.h"

#include <algorithm>
#include <cmath>

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

const std::vector<QPointF> &PolylineGeometry::simplified(int level) const
{
    level = std::clamp(level, 0, levels - 1);
    if (level >= m_fullFromLevel)
        return m_world;
    auto &cached = m_simplified[size_t(level)];
    if (cached)
        return *cached;

    const double tolerance = 0.5 / std::exp2(level);
    const double toleranceSquared = tolerance * tolerance;
    std::vector<QPointF> kept;
    if (!m_world.empty()) {
        kept.reserve(std::min<size_t>(m_world.size(), 4096));
        kept.push_back(m_world.front());
        for (size_t i = 1; i + 1 < m_world.size(); ++i) {
            const QPointF delta = m_world[i] - kept.back();
            if (delta.x() * delta.x() + delta.y() * delta.y() > toleranceSquared)
                kept.push_back(m_world[i]);
        }
        if (m_world.size() > 1)
            kept.push_back(m_world.back());
    }
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
