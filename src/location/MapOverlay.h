#pragma once

#include "core/Location.h"

#include <QColor>
#include <QGeoCoordinate>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// The points of a path on the map, projected once, with a thinned copy per
// zoom level made when first drawn there: a 100,000-point track shown whole
// is drawn from a few thousand points. Made on any thread; drawn on the main
// thread only.
class PolylineGeometry {
public:
    explicit PolylineGeometry(const std::vector<QGeoCoordinate> &coordinates);
    explicit PolylineGeometry(const std::vector<Location> &locations);

    qsizetype size() const { return qsizetype(m_world.size()); }
    // Zoom-0 world points in the given order.
    const std::vector<QPointF> &worldPoints() const { return m_world; }
    QRectF worldBounds() const { return m_bounds; }
    std::vector<QGeoCoordinate> coordinates() const { return m_coordinates; }

    // The points drawn at zoom levels up to `level`: the path thinned so that
    // no dropped point lies more than a point (at that level) from the line
    // through those kept; the first and last are always kept.
    const std::vector<QPointF> &simplified(int level) const;

    static constexpr int levels = 24;

private:
    void project();

    std::vector<QGeoCoordinate> m_coordinates;
    std::vector<QPointF> m_world;
    QRectF m_bounds;
    mutable std::array<std::optional<std::vector<QPointF>>, levels> m_simplified;
    // From this level on nothing is dropped, so the world points serve.
    mutable int m_fullFromLevel = levels;
};

// A titled path drawn over the map.
struct MapPolyline {
    QString title;
    std::shared_ptr<const PolylineGeometry> geometry;
    QColor color = Qt::blue;
    double lineWidth = 1.0;
};

// A titled point on the map drawn with its image centred on the coordinate.
// Moving it redraws the map that shows it.
class MapAnnotation : public QObject {
    Q_OBJECT
public:
    MapAnnotation(QString title, const QGeoCoordinate &coordinate, QImage image = {});

    QString title() const { return m_title; }
    QGeoCoordinate coordinate() const { return m_coordinate; }
    void setCoordinate(const QGeoCoordinate &coordinate);
    QImage image() const { return m_image; }
    void setImage(const QImage &image);

signals:
    void changed();

private:
    QString m_title;
    QGeoCoordinate m_coordinate;
    QImage m_image;
};

} // namespace corvane
