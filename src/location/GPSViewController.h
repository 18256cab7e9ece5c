#pragma once

#include "core/Location.h"
#include "core/Observer.h"
#include "location/DrawMode.h"
#include "location/MapView.h"
#include "location/ScribbleView.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/menus/Menu.h"

#include <QGeoCoordinate>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace corvane {

class LocationSimulator;

// The GPS window's map pane. It shows the playback engine's route and a pin
// at the point last sent, and gives the engine new routes: a freehand stroke
// drawn in a travel mode and turned into a timed route, a long press that
// jumps to the pressed point, and a context menu ("Set Location", "Copy
// Coordinates", "Manage Presets…"). The window drives drawing, the map style,
// zoom and panning through the public operations, and revalidates its toolbar
// on toolbarNeedsRevalidation(). Main thread only.
class GPSViewController : public QWidget {
    Q_OBJECT
public:
    struct Environment {
        // The shared engine when empty.
        std::shared_ptr<LocationSimulator> engine;
        // Runs work on the main thread after a delay: the long press and the
        // initial display.
        std::function<void(double seconds, std::function<void()>)> after;
        // Seconds since 1970, stamped on drawn and pressed routes.
        std::function<double()> clock;
    };

    enum class PanDirection { left, right, down, up };

    static constexpr const char *borderTitle = "cv.border";
    static constexpr const char *trackTitle = "cv.track";
    static constexpr const char *currentTitle = "cv.current";
    static constexpr double borderWidth = 5.5;
    static constexpr double trackWidth = 3.0;
    static constexpr MapView::Insets routeInsets{30, 20, 20, 20};
    static constexpr double cameraMetres = 5000;
    // A route starting farther than this from the centre is shown at once.
    static constexpr double animationLimitMetres = 32000;
    static constexpr double longPressSeconds = 1.0;
    static constexpr double initialDisplaySeconds = 0.1;
    static constexpr double hintCornerRadius = 8.0;
    // A drawn route longer than this is made off the main thread.
    static constexpr std::size_t backgroundConversionLocations = 10000;
    // Where the camera goes when the engine has no current location.
    static QGeoCoordinate defaultCoordinate();

    explicit GPSViewController(Environment environment = {}, QWidget *parent = nullptr);
    ~GPSViewController() override;

    MapView *mapView() const { return m_mapView; }
    QWidget *drawInfo() const { return m_drawInfo; }
    ScribbleView *captureView() const { return m_captureView; }
    std::optional<DrawMode> drawMode() const { return m_drawMode; }
    bool isDrawing() const { return m_drawMode.has_value(); }
    std::shared_ptr<MapAnnotation> currentLocationAnnotation() const { return m_currentLocation; }

    // Redraws the engine's route and fits the view to it.
    void updateRoute(bool animated);
    void showCurrentLocation(const std::optional<Location> &location);
    void initialDisplay();

    // Starts drawing, or changes the mode while drawing.
    void beginDraw(DrawMode mode);
    // Ends drawing and turns the stroke into the engine's route when it has
    // 3 points; a stroke that would need more than maximumDrawnLocations is
    // refused in an alert and the route stays.
    void doneDraw();
    // Ends drawing; the route stays.
    void cancelDraw();
    // The alert that refuses a stroke needing `count` locations in `mode`.
    static AlertSpec longStrokeAlert(std::size_t count, DrawMode mode);

    // Long press, at points in this pane's coordinates.
    void mouseDownAt(const QPointF &point);
    void mouseDraggedAt(const QPointF &point);
    void mouseUpAt(const QPointF &point);
    void longPressFired(quint64 press);

    // The context menu for a right click there; nothing while drawing or
    // outside the map.
    MenuPtr contextMenuAt(const QPointF &point) const;
    void showContextMenu(const QPointF &point, const QPoint &globalPosition);
    void setLocation(const QGeoCoordinate &coordinate);
    static void copyCoordinate(const QGeoCoordinate &coordinate);

    // The window's map commands.
    void toggleMapStyle();
    void zoomToRoute();
    // log2(360 × (w / 256) / Δλ) of the map's region.
    double zoomLevel() const;
    void zoomOut();
    void zoomIn();
    void pan(PanDirection direction);

signals:
    // The drawing state or the route changed.
    void toolbarNeedsRevalidation();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    class Actions;

    LocationSimulator &engine() const { return *m_environment.engine; }
    void observeEngine();
    void routeDidChange();
    void currentLocationDidUpdate(const QVariantMap &userInfo);
    void endDrawing();
    void refuseLongStroke(std::size_t count, DrawMode mode);
    void layoutChildren();
    void setRoute(const QGeoCoordinate &coordinate);
    MapPolyline polyline(const QString &title,
                         const std::shared_ptr<const PolylineGeometry> &geometry) const;
    bool handleMouse(QMouseEvent *event, const QPointF &point);

    Environment m_environment;
    ObserverCollection m_observers;
    std::shared_ptr<Actions> m_actions;
    QPointer<MapView> m_mapView;
    QPointer<QWidget> m_drawInfo;
    QPointer<ScribbleView> m_captureView;
    std::shared_ptr<MapAnnotation> m_currentLocation;
    // The press that may become a long press (map coordinates), and which
    // press it was, so a timer of an earlier press cannot fire for it.
    std::optional<QPointF> m_pendingMouseDown;
    quint64 m_press = 0;
    std::optional<DrawMode> m_drawMode;
    bool m_initialDisplayScheduled = false;
};

} // namespace corvane
