#include "location/MapView.h"

#include "location/MapProjection.h"
#include "location/WorldLand.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace corvane {

struct MapPalette {
    QColor sea, land, coast, graticule, text, halo;
};

namespace {

// Failed tiles are asked for again after this long.
constexpr qint64 retryFailedAfterMs = 60000;
// Each wheel notch zooms by half a level.
constexpr double zoomPerNotch = 0.5;
// Drawn shapes are clipped a little outside the view, so their cut edges stay
// out of sight.
constexpr double clipMargin = 8;

const MapPalette &lightPalette()
{
    static const MapPalette palette{QColor(0xaa, 0xd3, 0xdf), QColor(0xf2, 0xef, 0xe9),
                                    QColor(0x7f, 0xa6, 0xb8), QColor(0, 0, 0, 30),
                                    QColor(0x33, 0x33, 0x33), QColor(255, 255, 255, 200)};
    return palette;
}

const MapPalette &darkPalette()
{
    static const MapPalette palette{QColor(0x10, 0x1c, 0x2c), QColor(0x35, 0x42, 0x36),
                                    QColor(0x6d, 0x8a, 0x9e), QColor(255, 255, 255, 36),
                                    QColor(0xee, 0xee, 0xee), QColor(0, 0, 0, 170)};
    return palette;
}

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

int wrapColumn(int column, int count)
{
    const int wrapped = column % count;
    return wrapped < 0 ? wrapped + count : wrapped;
}

// Sutherland-Hodgman against one side of a rectangle.
template <class Inside, class Cross>
void clipSide(const QPolygonF &input, QPolygonF &output, Inside inside, Cross cross)
{
    output.clear();
    if (input.isEmpty())
        return;
    QPointF previous = input.back();
    bool previousInside = inside(previous);
    for (const QPointF &point : input) {
        const bool pointInside = inside(point);
        if (pointInside != previousInside)
            output.append(cross(previous, point));
        if (pointInside)
            output.append(point);
        previous = point;
        previousInside = pointInside;
    }
}

// A filled ring cut to the rectangle: holes stay inside their outer rings, so
// even-odd filling of the cut rings is still right.
QPolygonF clipToRect(const QPolygonF &polygon, const QRectF &rect)
{
    const auto atX = [](double x) {
        return [x](const QPointF &a, const QPointF &b) {
            const double t = (x - a.x()) / (b.x() - a.x());
            return QPointF(x, a.y() + t * (b.y() - a.y()));
        };
    };
    const auto atY = [](double y) {
        return [y](const QPointF &a, const QPointF &b) {
            const double t = (y - a.y()) / (b.y() - a.y());
            return QPointF(a.x() + t * (b.x() - a.x()), y);
        };
    };
    QPolygonF a, b;
    clipSide(
        polygon, a, [&](const QPointF &p) { return p.x() >= rect.left(); }, atX(rect.left()));
    clipSide(
        a, b, [&](const QPointF &p) { return p.x() <= rect.right(); }, atX(rect.right()));
    clipSide(
        b, a, [&](const QPointF &p) { return p.y() >= rect.top(); }, atY(rect.top()));
    clipSide(
        a, b, [&](const QPointF &p) { return p.y() <= rect.bottom(); }, atY(rect.bottom()));
    return b;
}

bool segmentMayCross(const QPointF &a, const QPointF &b, const QRectF &rect)
{
    return std::max(a.x(), b.x()) >= rect.left() && std::min(a.x(), b.x()) <= rect.right() &&
           std::max(a.y(), b.y()) >= rect.top() && std::min(a.y(), b.y()) <= rect.bottom();
}

// Draws the runs of a path whose segments may show in `rect`; `keep` can drop
// single segments. Long runs go in short pieces: the rasterizer's work grows
// with how many edges each scan line meets, and a winding track drawn as one
// outline meets itself everywhere. Round caps join the pieces seamlessly.
template <class Keep>
void drawVisibleRuns(QPainter &painter, const std::vector<QPointF> &points, const QRectF &rect,
                     Keep keep)
{
    constexpr qsizetype piece = 16;
    QPolygonF run;
    const auto flush = [&] {
        if (run.size() >= 2)
            painter.drawPolyline(run);
        run.clear();
    };
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        if (!keep(i) || !segmentMayCross(points[i], points[i + 1], rect)) {
            flush();
            continue;
        }
        if (run.size() > piece)
            flush();
        if (run.isEmpty())
            run.append(points[i]);
        run.append(points[i + 1]);
    }
    flush();
}

QString distanceText(double metres)
{
    if (metres >= 1000)
        return QString::number(metres / 1000, 'g', 6) + " km";
    return QString::number(metres, 'g', 6) + " m";
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

void MapView::setTileSources(const MapTileSource &standard, const MapTileSource &hybrid)
{
    m_standardSource = standard;
    m_hybridSource = hybrid;
    m_lastRequest.clear();
    invalidateLayers();
}

const MapTileSource &MapView::tileSource() const
{
    return m_mapType == MapType::standard ? m_standardSource : m_hybridSource;
}

void MapView::setTileLoader(std::shared_ptr<TileLoader> loader)
{
    if (m_loader) {
        m_loader->forget(this);
        disconnect(m_loader.get(), nullptr, this, nullptr);
    }
    m_loader = std::move(loader);
    m_pending.clear();
    m_lastRequest.clear();
    if (m_loader) {
        connect(m_loader.get(), &TileLoader::tileLoaded, this, &MapView::tileLoaded);
        connect(m_loader.get(), &TileLoader::tileFailed, this, &MapView::tileFailed);
    }
    invalidateLayers();
}

void MapView::ensureLoader()
{
    if (!m_loader)
        setTileLoader(TileLoader::shared());
}

QString MapView::attributionText() const
{
    return tileSource().isEmpty() ? QString() : tileSource().attribution;
}

QRect MapView::attributionRect() const
{
    const QString text = attributionText();
    if (text.isEmpty())
        return {};
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.8));
    const QSize size = QFontMetrics(small).size(Qt::TextSingleLine, text) + QSize(8, 2);
    return QRect(QPoint(width() - size.width(), height() - size.height()), size);
}

int MapView::tileLevel() const
{
    return std::clamp(int(std::lround(m_zoom)), 0, std::max(0, tileSource().maximumZoom));
}

std::vector<QPoint> MapView::visibleTiles() const
{
    std::vector<QPoint> tiles;
    if (width() <= 0 || height() <= 0)
        return tiles;
    const int level = tileLevel();
    const int count = 1 << level;
    const double tileWorld = map::tileSize / count;
    const double s = scale();
    const QPointF topLeft = toWorld({0, 0});
    const QPointF bottomRight = toWorld(QPointF(width(), height()));
    const int firstColumn = int(std::floor(topLeft.x() / tileWorld));
    const int lastColumn = int(std::ceil(bottomRight.x() / tileWorld)) - 1;
    const int firstRow = std::max(0, int(std::floor(topLeft.y() / tileWorld)));
    const int lastRow = std::min(count - 1, int(std::ceil(bottomRight.y() / tileWorld)) - 1);
    for (int row = firstRow; row <= lastRow; ++row)
        for (int column = firstColumn; column <= lastColumn; ++column)
            tiles.emplace_back(column, row);
    const auto distance = [&](const QPoint &tile) {
        const QPointF centre((tile.x() + 0.5) * tileWorld, (tile.y() + 0.5) * tileWorld);
        const QPointF delta = (centre - m_centre) * s;
        return delta.x() * delta.x() + delta.y() * delta.y();
    };
    std::stable_sort(tiles.begin(), tiles.end(),
                     [&](const QPoint &a, const QPoint &b) { return distance(a) < distance(b); });
    return tiles;
}

void MapView::tileLoaded(const QUrl &url, const QImage &image)
{
    if (!m_pending.remove(url))
        return;
    m_failedAt.remove(url);
    m_tiles.insert(url, new QImage(image));
    invalidateLayers();
}

void MapView::tileFailed(const QUrl &url)
{
    if (m_pending.remove(url))
        m_failedAt.insert(url, m_clock.elapsed());
}

const MapPalette &MapView::colours() const
{
    return m_mapType == MapType::standard ? lightPalette() : darkPalette();
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

std::pair<int, int> MapView::worldCopies(const QRectF &bounds) const
{
    const double halfWidth = width() / 2.0 / scale() + clipMargin / scale();
    const double left = m_centre.x() - halfWidth, right = m_centre.x() + halfWidth;
    const int first = int(std::ceil((left - bounds.right()) / map::tileSize));
    int last = int(std::floor((right - bounds.left()) / map::tileSize));
    // Zoomed far out, a wide view holds only so many copies worth drawing.
    last = std::min(last, first + 16);
    return {first, last};
}

void MapView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (width() <= 0 || height() <= 0)
        return;
    const qreal ratio = painter.device()->devicePixelRatioF();
    if (m_layers.isNull() || m_layersCentre != m_centre || m_layersZoom != m_zoom ||
        m_layers.size() != size() * ratio || m_layers.devicePixelRatioF() != ratio ||
        m_layersGeneration != m_generation)
        renderLayers(ratio);
    painter.drawImage(QPointF(0, 0), m_layers);
    painter.setRenderHint(QPainter::Antialiasing);
    drawAnnotations(painter);
    drawScaleBar(painter);
    drawAttribution(painter);
}

void MapView::renderLayers(qreal ratio)
{
    // The buffer is reused: a fresh one would be page-faulted in each time.
    if (m_layers.size() != size() * ratio)
        m_layers = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_layers.setDevicePixelRatio(ratio);
    m_layers.fill(colours().sea);
    QPainter painter(&m_layers);
    painter.setRenderHint(QPainter::Antialiasing);
    drawLand(painter);
    drawGraticule(painter);
    drawTiles(painter);
    drawOverlays(painter);
    m_layersCentre = m_centre;
    m_layersZoom = m_zoom;
    m_layersGeneration = m_generation;
}

void MapView::invalidateLayers()
{
    ++m_generation;
    update();
}

void MapView::drawLand(QPainter &painter) const
{
    const WorldLand &land = WorldLand::bundled();
    if (land.isEmpty())
        return;
    const double s = scale();
    const int level = std::max(0, int(std::ceil(m_zoom - 1e-9)));
    const QRectF clip = QRectF(rect()).adjusted(-clipMargin, -clipMargin, clipMargin, clipMargin);
    const QPointF half(width() / 2.0, height() / 2.0);

    QPainterPath fill;
    fill.setFillRule(Qt::OddEvenFill);
    std::vector<std::pair<const WorldLand::Ring *, std::vector<QPointF>>> shown;
    for (const WorldLand::Ring &ring : land.rings(level)) {
        const auto [first, last] = worldCopies(ring.bounds);
        for (int copy = first; copy <= last; ++copy) {
            const QPointF shift(copy * map::tileSize, 0);
            const QRectF bounds((ring.bounds.topLeft() + shift - m_centre) * s + half,
                                ring.bounds.size() * s);
            if (!bounds.intersects(clip))
                continue;
            std::vector<QPointF> points;
            points.reserve(ring.points.size());
            for (const QPointF &point : ring.points)
                points.push_back((point + shift - m_centre) * s + half);
            QPolygonF polygon(points.begin(), points.end());
            fill.addPolygon(clip.contains(bounds) ? polygon : clipToRect(polygon, clip));
            fill.closeSubpath();
            shown.emplace_back(&ring, std::move(points));
        }
    }
    // The coast line drawn over the edge smooths it, so the fill can go
    // without antialiasing, which costs a fraction.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(fill, colours().land);
    painter.setRenderHint(QPainter::Antialiasing, true);

    QPen coast(colours().coast, 1.0);
    coast.setCosmetic(true);
    painter.setPen(coast);
    painter.setBrush(Qt::NoBrush);
    for (const auto &[ring, points] : shown)
        drawVisibleRuns(painter, points, clip, [ring](size_t i) { return ring->isCoast(i); });
}

void MapView::drawGraticule(QPainter &painter) const
{
    static const double steps[] = {90,    45,     30,      15,     10,      5,       2,     1,
                                   0.5,   0.25,   0.1,     0.05,   0.025,   0.01,    0.005, 0.0025,
                                   0.001, 0.0005, 0.00025, 0.0001, 0.00005, 0.000025};
    const double pointsPerDegree = map::tileSize * scale() / 360.0;
    double step = steps[0];
    for (double candidate : steps) {
        if (candidate * pointsPerDegree < 90)
            break;
        step = candidate;
    }
    QPen pen(colours().graticule, 1.0);
    pen.setCosmetic(true);
    painter.setPen(pen);
    const QPointF topLeft = toWorld({0, 0});
    const QPointF bottomRight = toWorld(QPointF(width(), height()));
    const double west = topLeft.x() / map::tileSize * 360.0 - 180.0;
    const double east = bottomRight.x() / map::tileSize * 360.0 - 180.0;
    const double worldTop = std::max(0.0, toView({0, 0}).y());
    const double worldBottom = std::min(double(height()), toView({0, map::tileSize}).y());
    for (double longitude = std::ceil(west / step) * step; longitude <= east; longitude += step) {
        const double x = toView(map::worldPoint(0, longitude)).x();
        painter.drawLine(QPointF(x, worldTop), QPointF(x, worldBottom));
    }
    const double north = map::coordinateAt(topLeft).latitude();
    const double south = map::coordinateAt(bottomRight).latitude();
    for (double latitude = std::ceil(south / step) * step; latitude <= north; latitude += step) {
        if (std::fabs(latitude) >= map::maximumLatitude)
            continue;
        const double y = toView(map::worldPoint(latitude, 0)).y();
        painter.drawLine(QPointF(0, y), QPointF(width(), y));
    }
}

void MapView::drawTiles(QPainter &painter)
{
    const MapTileSource &source = tileSource();
    if (source.isEmpty())
        return;
    ensureLoader();
    const int level = tileLevel();
    const int count = 1 << level;
    const double tileWorld = map::tileSize / count;
    const double s = scale();
    const qint64 now = m_clock.elapsed();
    const bool exact = std::fabs(s * tileWorld - map::tileSize) < 1e-6;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
    QList<QUrl> wanted;
    for (const QPoint &tile : visibleTiles()) {
        const QPointF topLeft = toView({tile.x() * tileWorld, tile.y() * tileWorld});
        const QPointF bottomRight =
            toView({(tile.x() + 1) * tileWorld, (tile.y() + 1) * tileWorld});
        // Shared edges round alike, so no seam shows between tiles.
        const QRectF target(QPointF(std::round(topLeft.x()), std::round(topLeft.y())),
                            QPointF(std::round(bottomRight.x()), std::round(bottomRight.y())));
        const QUrl url = source.url(level, wrapColumn(tile.x(), count), tile.y());
        if (const QImage *image = m_tiles.object(url)) {
            painter.drawImage(target, *image);
            continue;
        }
        drawFallback(painter, level, tile.x(), tile.y(), target);
        const auto failed = m_failedAt.constFind(url);
        if (failed != m_failedAt.constEnd() && now - failed.value() < retryFailedAfterMs)
            continue;
        if (!wanted.contains(url))
            wanted.append(url);
    }
    painter.restore();
    if (wanted != m_lastRequest) {
        m_lastRequest = wanted;
        m_pending = QSet<QUrl>(wanted.begin(), wanted.end());
        m_loader->request(this, wanted);
    }
}

bool MapView::drawFallback(QPainter &painter, int level, int column, int row, const QRectF &target)
{
    const MapTileSource &source = tileSource();
    for (int up = 1; up <= 4 && level - up >= 0; ++up) {
        const int count = 1 << (level - up);
        const int parentColumn = wrapColumn(column >> up, count);
        const QImage *image = m_tiles.object(source.url(level - up, parentColumn, row >> up));
        if (!image)
            continue;
        const double part = map::tileSize / (1 << up);
        const int columnInParent = wrapColumn(column, 1 << level) & ((1 << up) - 1);
        const int rowInParent = row & ((1 << up) - 1);
        painter.drawImage(target, *image,
                          QRectF(columnInParent * part, rowInParent * part, part, part));
        return true;
    }
    return false;
}

void MapView::drawOverlays(QPainter &painter) const
{
    const double s = scale();
    const int level = std::clamp(int(std::ceil(m_zoom - 1e-9)), 0, PolylineGeometry::levels - 1);
    const QPointF half(width() / 2.0, height() / 2.0);
    for (const MapPolyline &overlay : m_overlays) {
        if (!overlay.geometry || overlay.geometry->size() < 2)
            continue;
        const double margin = overlay.lineWidth + clipMargin;
        const QRectF clip = QRectF(rect()).adjusted(-margin, -margin, margin, margin);
        // Bevel joins cost half of round ones; on a path thinned to half a
        // point the two cannot be told apart.
        QPen pen(overlay.color, overlay.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const std::vector<QPointF> &points = overlay.geometry->simplified(level);
        const auto [first, last] = worldCopies(overlay.geometry->worldBounds());
        std::vector<QPointF> view(points.size());
        for (int copy = first; copy <= last; ++copy) {
            const QPointF origin = (QPointF(copy * map::tileSize, 0) - m_centre) * s + half;
            for (size_t i = 0; i < points.size(); ++i)
                view[i] = points[i] * s + origin;
            drawVisibleRuns(painter, view, clip, [](size_t) { return true; });
        }
    }
}

void MapView::drawAnnotations(QPainter &painter) const
{
    for (const auto &annotation : m_annotations) {
        const QPointF point = coordinateToPoint(annotation->coordinate());
        const QImage image = annotation->image();
        if (image.isNull()) {
            painter.setPen(QPen(Qt::white, 2));
            painter.setBrush(QColor(0xe5, 0x39, 0x35));
            painter.drawEllipse(point, 7, 7);
            continue;
        }
        const QSizeF size = image.deviceIndependentSize();
        painter.drawImage(QRectF(point - QPointF(size.width(), size.height()) / 2, size), image);
    }
}

void MapView::drawScaleBar(QPainter &painter) const
{
    const double metresPerPoint = map::metresPerPoint(centreCoordinate().latitude(), m_zoom);
    if (!(metresPerPoint > 0))
        return;
    const double longest = std::min(120.0, width() / 3.0) * metresPerPoint;
    double magnitude = std::pow(10.0, std::floor(std::log10(longest)));
    double metres = magnitude;
    for (double factor : {2.0, 5.0, 10.0})
        if (magnitude * factor <= longest)
            metres = magnitude * factor;
    const double length = metres / metresPerPoint;
    if (!(length >= 1))
        return;
    const QPointF origin(10, height() - 12);
    const QString label = distanceText(metres);
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.8));
    painter.save();
    painter.setFont(small);
    const QFontMetricsF metrics(small);
    const QRectF textRect(origin.x(), origin.y() - 6 - metrics.height(),
                          std::max(length, metrics.horizontalAdvance(label)) + 2, metrics.height());
    for (const auto &[colour, width] :
         {std::pair{colours().halo, 4.0}, std::pair{colours().text, 1.5}}) {
        QPen pen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        painter.setPen(pen);
        const QPointF end = origin + QPointF(length, 0);
        painter.drawPolyline(QPolygonF({origin - QPointF(0, 5), origin, end, end - QPointF(0, 5)}));
    }
    QPainterPath text;
    text.addText(textRect.bottomLeft() - QPointF(0, metrics.descent()), small, label);
    painter.strokePath(text, QPen(colours().halo, 3));
    painter.fillPath(text, colours().text);
    painter.restore();
}

void MapView::drawAttribution(QPainter &painter) const
{
    const QString text = attributionText();
    if (text.isEmpty())
        return;
    const QRect box = attributionRect();
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.8));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 190));
    painter.drawRect(box);
    painter.setFont(small);
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace corvane
