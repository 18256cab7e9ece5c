#pragma once

#include "location/MapOverlay.h"
#include "location/TileLoader.h"

#include <QCache>
#include <QElapsedTimer>
#include <QGeoCoordinate>
#include <QHash>
#include <QPointF>
#include <QPointer>
#include <QSet>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace corvane {

struct MapPalette;

// Our own Web-Mercator map: a centre and a fractional zoom, where zoom z
// shows the world 256 × 2^z points wide (so a view w points wide spans
// 360 × (w / 256) / 2^z degrees of longitude). Latitudes are clamped to
// ±85.0511°. Drag pans, the wheel zooms. It draws raster tiles when its
// style has a tile source and, below them (offline, or while they load), the
// land of the world in the style's palette with a graticule; a scale bar, the
// tiles' credit, path overlays and annotations go on top. Main thread only.
class MapView : public QWidget {
    Q_OBJECT
public:
    enum class MapType { standard, hybrid };
    enum class PointOfInterestFilter { includingAll, excludingAll };

    struct Region {
        QGeoCoordinate centre;
        double latitudeSpan = 0;
        double longitudeSpan = 0;
    };

    struct Insets {
        double top = 0, left = 0, bottom = 0, right = 0;
    };

    static constexpr double minimumZoom = 0;
    static constexpr double maximumZoom = 20;
    static constexpr int animationMilliseconds = 250;

    explicit MapView(QWidget *parent = nullptr);
    ~MapView() override;

    QGeoCoordinate centreCoordinate() const;
    void setCentreCoordinate(const QGeoCoordinate &centre, bool animated);
    double zoom() const { return m_zoom; }
    void setCentre(const QGeoCoordinate &centre, double zoom, bool animated);

    Region region() const;
    // Shows at least the region: the zoom that fits both spans, or the one
    // span that is not 0.
    void setRegion(const Region &region, bool animated);
    // Looks down at `centre` from so high that the view's height shows
    // `metres` of ground at the centre.
    void setCamera(const QGeoCoordinate &centre, double metres, bool animated);
    // Fits the box around the coordinates (or zoom-0 world rectangle) into
    // the view less the insets, centred there.
    void showRect(const std::vector<QGeoCoordinate> &coordinates, const Insets &insets,
                  bool animated);
    void showWorldRect(const QRectF &world, const Insets &insets, bool animated);
    bool isAnimating() const;

    // Between the view's own points and the globe; a longitude is brought
    // to the copy of the world nearest the centre.
    QPointF coordinateToPoint(const QGeoCoordinate &coordinate) const;
    QGeoCoordinate pointToCoordinate(const QPointF &point) const;

    void addOverlay(const MapPolyline &overlay);
    void removeAllOverlays();
    const std::vector<MapPolyline> &overlays() const { return m_overlays; }

    void addAnnotation(const std::shared_ptr<MapAnnotation> &annotation);
    void removeAnnotation(const std::shared_ptr<MapAnnotation> &annotation);
    const std::vector<std::shared_ptr<MapAnnotation>> &annotations() const { return m_annotations; }

    MapType mapType() const { return m_mapType; }
    void setMapType(MapType type);
    // Kept for the style; neither the tiles nor the offline map draw points
    // of interest of their own.
    PointOfInterestFilter pointOfInterestFilter() const { return m_pointOfInterestFilter; }
    void setPointOfInterestFilter(PointOfInterestFilter filter);

    // The tiles of each style; an empty source draws the offline map alone.
    void setTileSources(const MapTileSource &standard, const MapTileSource &hybrid);
    const MapTileSource &tileSource() const;
    // Tests give their own; otherwise the program's shared one is used.
    void setTileLoader(std::shared_ptr<TileLoader> loader);
    // The credit drawn for the current style's tiles; empty without tiles.
    QString attributionText() const;
    QRect attributionRect() const;

    // The tile level drawn at the current zoom, and the tiles the view needs
    // there (column, row, in order of distance from the centre).
    int tileLevel() const;
    std::vector<QPoint> visibleTiles() const;

signals:
    void regionChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    struct Camera {
        QPointF world; // zoom-0 world point at the centre
        double zoom = 0;
    };

    double scale() const;
    Camera camera() const { return {m_centre, m_zoom}; }
    Camera clamped(Camera camera) const;
    void moveTo(Camera target, bool animated);
    void apply(Camera camera);
    // Runs `move` now when the view has a size, else at its first resize.
    void whenSized(std::function<void()> move);
    QPointF toView(const QPointF &world) const;
    QPointF toWorld(const QPointF &point) const;
    const MapPalette &colours() const;

    // The map under the annotations: land, graticule, tiles and overlays,
    // kept as an image while the view and its content stay as they are, so
    // that moving a pin over a long route costs one copy.
    void renderLayers(qreal ratio);
    void invalidateLayers();
    void drawLand(QPainter &painter) const;
    void drawGraticule(QPainter &painter) const;
    void drawTiles(QPainter &painter);
    void drawOverlays(QPainter &painter) const;
    void drawAnnotations(QPainter &painter) const;
    void drawScaleBar(QPainter &painter) const;
    void drawAttribution(QPainter &painter) const;
    // The copies k of the world (shifted 256 k) in which `bounds` shows.
    std::pair<int, int> worldCopies(const QRectF &bounds) const;

    void ensureLoader();
    void tileLoaded(const QUrl &url, const QImage &image);
    void tileFailed(const QUrl &url);
    bool drawFallback(QPainter &painter, int level, int column, int row, const QRectF &target);

    QPointF m_centre{128, 128};
    double m_zoom = 2;
    Camera m_animationStart;
    Camera m_animationEnd;
    QVariantAnimation m_animation;
    std::function<void()> m_pendingMove;

    std::vector<MapPolyline> m_overlays;
    std::vector<std::shared_ptr<MapAnnotation>> m_annotations;
    MapType m_mapType = MapType::standard;
    PointOfInterestFilter m_pointOfInterestFilter = PointOfInterestFilter::includingAll;

    MapTileSource m_standardSource;
    MapTileSource m_hybridSource;
    std::shared_ptr<TileLoader> m_loader;
    QCache<QUrl, QImage> m_tiles{256};
    QSet<QUrl> m_pending;
    QHash<QUrl, qint64> m_failedAt; // milliseconds on m_clock
    QElapsedTimer m_clock;
    QList<QUrl> m_lastRequest;

    std::optional<QPointF> m_dragFrom;

    QImage m_layers;
    QPointF m_layersCentre;
    double m_layersZoom = 0;
    quint64 m_layersGeneration = 0;
    quint64 m_generation = 0;
};

} // namespace corvane
