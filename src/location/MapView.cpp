#include "location/MapView.h"

#include "location/MapProjection.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Each wheel notch zooms by half a level.
constexpr double zoomPerNotch = 0.5;

double wrapDelta(double dx)
{
    const double half = map::tileSize / 2;
    if (dx >= -half && dx < half)
        return dx;
    const double wrapped = std::fmod(dx + half, map::tileSize);
    return (wrapped < 0 ? wrapped + map::tileSize : wrapped) - half;
}

double wrapWorldX(double x)
{
    const double wrapped = std::fmod(x, map::tileSize);
    return wrapped < 0 ? wrapped + map::tileSize : wrapped;
}

} // namespace

MapView::MapView(QWidget *parent)
    : QWidget(parent), m_standardSource(MapTileSource::standardDefault()),
      m_hybridSource(MapTileSource::hybridDefault())
{
    m_clock.start();
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setDuration(animationMilliseconds);
    m_animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        if (m_animation.state() != QAbstractAnimation::Running)
            return;
        const double t = value.toDouble();
        apply({m_animationStart.world + (m_animationEnd.world - m_animationStart.world) * t,
               m_animationStart.zoom + (m_animationEnd.zoom - m_animationStart.zoom) * t});
    });
    connect(&m_animation, &QVariantAnimation::finished, this, [this] { apply(m_animationEnd); });
}

MapView::~MapView()
{
    if (m_loader)
        m_loader->forget(this);
}

double MapView::scale() const
{
    return std::exp2(m_zoom);
}

QPointF MapView::toView(const QPointF &world) const
{
    return (world - m_centre) * scale() + QPointF(width() / 2.0, height() / 2.0);
}

QPointF MapView::toWorld(const QPointF &point) const
{
    return m_centre + (point - QPointF(width() / 2.0, height() / 2.0)) / scale();
}

QGeoCoordinate MapView::centreCoordinate() const
{
    return map::coordinateAt(m_centre);
}

void MapView::setCentreCoordinate(const QGeoCoordinate &centre, bool animated)
{
    setCentre(centre, m_zoom, animated);
}

void MapView::setCentre(const QGeoCoordinate &centre, double zoom, bool animated)
{
    moveTo({map::worldPoint(centre), zoom}, animated);
}

MapView::Region MapView::region() const
{
    const double s = scale();
    const double halfHeight = height() / 2.0 / s;
    const double top = map::coordinateAt({m_centre.x(), m_centre.y() - halfHeight}).latitude();
    const double bottom = map::coordinateAt({m_centre.x(), m_centre.y() + halfHeight}).latitude();
    return {centreCoordinate(), top - bottom, 360.0 * width() / (map::tileSize * s)};
}

void MapView::setRegion(const Region &region, bool animated)
{
    whenSized([this, region, animated] {
        std::optional<double> zoom;
        if (region.longitudeSpan > 0)
            zoom = std::log2(360.0 * width() / (map::tileSize * region.longitudeSpan));
        if (region.latitudeSpan > 0) {
            // The half-height, in world units, whose edges are the span apart
            // in latitude; region() measures the same way.
            const double centre = map::worldPoint(region.centre).y();
            const auto spanOf = [centre](double half) {
                return map::coordinateAt({0, centre - half}).latitude() -
                       map::coordinateAt({0, centre + half}).latitude();
            };
            double low = 0, high = map::tileSize;
            for (int i = 0; i < 64; ++i) {
                const double middle = (low + high) / 2;
                (spanOf(middle) < region.latitudeSpan ? low : high) = middle;
            }
            const double fit = std::log2(height() / 2.0 / high);
            zoom = zoom ? std::min(*zoom, fit) : fit;
        }
        moveTo({map::worldPoint(region.centre), zoom.value_or(m_zoom)}, animated);
    });
}

void MapView::setCamera(const QGeoCoordinate &centre, double metres, bool animated)
{
    whenSized([this, centre, metres, animated] {
        double zoom = m_zoom;
        if (metres > 0)
            zoom = std::log2(map::metresPerPoint(centre.latitude(), 0) * height() / metres);
        moveTo({map::worldPoint(centre), zoom}, animated);
    });
}

void MapView::showRect(const std::vector<QGeoCoordinate> &coordinates, const Insets &insets,
                       bool animated)
{
    if (coordinates.empty())
        return;
    showWorldRect(PolylineGeometry(coordinates).worldBounds(), insets, animated);
}

void MapView::showWorldRect(const QRectF &world, const Insets &insets, bool animated)
{
    whenSized([this, world, insets, animated] {
        const double availableWidth = std::max(1.0, width() - insets.left - insets.right);
        const double availableHeight = std::max(1.0, height() - insets.top - insets.bottom);
        double zoom = maximumZoom;
        if (world.width() > 0 || world.height() > 0) {
            const double fitX = world.width() > 0 ? availableWidth / world.width() : INFINITY;
            const double fitY = world.height() > 0 ? availableHeight / world.height() : INFINITY;
            zoom = std::min(maximumZoom, std::log2(std::min(fitX, fitY)));
        }
        zoom = std::clamp(zoom, minimumZoom, maximumZoom);
        const double s = std::exp2(zoom);
        const QPointF insetCentre(insets.left + availableWidth / 2,
                                  insets.top + availableHeight / 2);
        const QPointF offset = (insetCentre - QPointF(width() / 2.0, height() / 2.0)) / s;
        moveTo({world.center() - offset, zoom}, animated);
    });
}

bool MapView::isAnimating() const
{
    return m_animation.state() == QAbstractAnimation::Running;
}

QPointF MapView::coordinateToPoint(const QGeoCoordinate &coordinate) const
{
    const QPointF world = map::worldPoint(coordinate);
    return toView({m_centre.x() + wrapDelta(world.x() - m_centre.x()), world.y()});
}

QGeoCoordinate MapView::pointToCoordinate(const QPointF &point) const
{
    return map::coordinateAt(toWorld(point));
}

MapView::Camera MapView::clamped(Camera camera) const
{
    camera.zoom =
        std::clamp(std::isfinite(camera.zoom) ? camera.zoom : m_zoom, minimumZoom, maximumZoom);
    if (!std::isfinite(camera.world.x()) || !std::isfinite(camera.world.y()))
        camera.world = m_centre;
    // Keep the world's north and south edges at or beyond the view's.
    const double halfHeight = height() / 2.0 / std::exp2(camera.zoom);
    if (2 * halfHeight >= map::tileSize)
        camera.world.setY(map::tileSize / 2);
    else
        camera.world.setY(std::clamp(camera.world.y(), halfHeight, map::tileSize - halfHeight));
    return camera;
}

void MapView::moveTo(Camera target, bool animated)
{
    target = clamped(target);
    m_animation.stop();
    if (!animated) {
        apply(target);
        return;
    }
    m_animationStart = camera();
    target.world.setX(m_centre.x() + wrapDelta(target.world.x() - m_centre.x()));
    m_animationEnd = target;
    m_animation.start();
}

void MapView::apply(Camera camera)
{
    m_centre = QPointF(wrapWorldX(camera.world.x()), camera.world.y());
    m_zoom = camera.zoom;
    update();
    emit regionChanged();
}

void MapView::whenSized(std::function<void()> move)
{
    if (width() > 0 && height() > 0) {
        m_pendingMove = nullptr;
        move();
    } else {
        m_pendingMove = std::move(move);
    }
}

void MapView::addOverlay(const MapPolyline &overlay)
{
    m_overlays.push_back(overlay);
    invalidateLayers();
}

void MapView::removeAllOverlays()
{
    m_overlays.clear();
    invalidateLayers();
}

void MapView::addAnnotation(const std::shared_ptr<MapAnnotation> &annotation)
{
    if (!annotation)
        return;
    m_annotations.push_back(annotation);
    connect(annotation.get(), &MapAnnotation::changed, this, qOverload<>(&QWidget::update));
    update();
}

void MapView::removeAnnotation(const std::shared_ptr<MapAnnotation> &annotation)
{
    const auto it = std::find(m_annotations.begin(), m_annotations.end(), annotation);
    if (it == m_annotations.end())
        return;
    disconnect(annotation.get(), nullptr, this, nullptr);
    m_annotations.erase(it);
    update();
}

void MapView::setMapType(MapType type)
{
    if (m_mapType == type)
        return;
    m_mapType = type;
    m_lastRequest.clear();
    invalidateLayers();
}

void MapView::setPointOfInterestFilter(PointOfInterestFilter filter)
{
    m_pointOfInterestFilter = filter;
}

void MapView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (width() <= 0 || height() <= 0)
        return;
    if (m_pendingMove) {
        auto move = std::move(m_pendingMove);
        m_pendingMove = nullptr;
        move();
    } else if (!isAnimating()) {
        apply(clamped(camera()));
    }
}

void MapView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_animation.stop();
        m_dragFrom = event->position();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MapView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragFrom && (event->buttons() & Qt::LeftButton)) {
        const QPointF delta = event->position() - *m_dragFrom;
        m_dragFrom = event->position();
        apply(clamped({m_centre - delta / scale(), m_zoom}));
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void MapView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragFrom.reset();
    QWidget::mouseReleaseEvent(event);
}

void MapView::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        event->ignore();
        return;
    }
    m_animation.stop();
    const QPointF anchor = event->position();
    const QPointF world = toWorld(anchor);
    const double zoom = std::clamp(m_zoom + notches * zoomPerNotch, minimumZoom, maximumZoom);
    const QPointF offset = (anchor - QPointF(width() / 2.0, height() / 2.0)) / std::exp2(zoom);
    apply(clamped({world - offset, zoom}));
    event->accept();
}

} // namespace corvane
