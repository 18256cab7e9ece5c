#include "location/MapView.h"

#include "location/MapProjection.h"
#include "location/WorldLand.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace corvane {

struct MapPalette {
    QColor sea, land, coast, graticule, text, halo;
};

namespace {

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

const MapPalette &MapView::colours() const
{
    return m_mapType == MapType::standard ? lightPalette() : darkPalette();
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

} // namespace corvane
