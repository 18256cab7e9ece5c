#include "location/MapView.h"

#include "location/MapProjection.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Failed tiles are asked for again after this long.
constexpr qint64 retryFailedAfterMs = 60000;

int wrapColumn(int column, int count)
{
    const int wrapped = column % count;
    return wrapped < 0 ? wrapped + count : wrapped;
}

} // namespace

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
