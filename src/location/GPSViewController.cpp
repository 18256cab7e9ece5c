#include "location/GPSViewController.h"

#include "core/Geodesy.h"
#include "location/DrawnRoute.h"
#include "location/LocationSimulator.h"
#include "location/LocationsSettings.h"
#include "location/ScribbleView.h"
#include "platform/menus/ActionTarget.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/menus/MenuItem.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <new>

namespace corvane {

namespace {

QImage currentLocationImage()
{
    static const QImage image = [] {
        QSvgRenderer renderer(QStringLiteral(":/images/Map - Current.svg"));
        if (!renderer.isValid())
            return QImage();
        // Drawn at twice the size, so it stays sharp on dense screens.
        const QSize size = renderer.defaultSize();
        QImage rendered(size * 2, QImage::Format_ARGB32_Premultiplied);
        rendered.fill(Qt::transparent);
        QPainter painter(&rendered);
        renderer.render(&painter);
        painter.end();
        rendered.setDevicePixelRatio(2);
        return rendered;
    }();
    return image;
}

// The hint shown while drawing, with the two ways out of it.
class DrawingHint : public QWidget {
public:
    DrawingHint(QWidget *parent, std::function<void()> done, std::function<void()> cancel)
        : QWidget(parent)
    {
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(14, 8, 10, 8);
        layout->setSpacing(8);
        layout->addWidget(
            new QLabel(loc("Draw a route on the map", "GPS_DRAW_HINT_ITEM_LABEL"), this));
        auto *cancelButton = new QPushButton(loc("Cancel", "GPS_DRAW_CANCEL_ITEM_TITLE"), this);
        auto *doneButton = new QPushButton(loc("Done", "GPS_DRAW_DONE_ITEM_TITLE"), this);
        doneButton->setDefault(true);
        cancelButton->setObjectName("cancel");
        doneButton->setObjectName("done");
        connect(cancelButton, &QPushButton::clicked, this, std::move(cancel));
        connect(doneButton, &QPushButton::clicked, this, std::move(done));
        layout->addWidget(cancelButton);
        layout->addWidget(doneButton);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::Window);
        fill.setAlpha(235);
        painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5),
                                GPSViewController::hintCornerRadius,
                                GPSViewController::hintCornerRadius);
    }
};

} // namespace

// What the context menu's items are sent to. The pane is a widget, so the
// menu reaches it through this object, which it owns.
class GPSViewController::Actions : public ActionTarget {
public:
    explicit Actions(GPSViewController *pane) : m_pane(pane)
    {
        addAction("dropPin:", [this](const ObjectPtr &sender) {
            if (auto coordinate = coordinateOf(sender); coordinate && m_pane)
                m_pane->setLocation(*coordinate);
        });
        addAction("copyLocation:", [](const ObjectPtr &sender) {
            if (auto coordinate = coordinateOf(sender))
                copyCoordinate(*coordinate);
        });
        addAction("managePresets:", [](const ObjectPtr &) { showLocationsSettings(); });
    }

private:
    static std::optional<QGeoCoordinate> coordinateOf(const ObjectPtr &sender)
    {
        const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
        return item ? item->representedObject().as<QGeoCoordinate>() : std::nullopt;
    }

    QPointer<GPSViewController> m_pane;
};

QGeoCoordinate GPSViewController::defaultCoordinate()
{
    return QGeoCoordinate(37.33507030721554, -122.00915439213304);
}

GPSViewController::GPSViewController(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(std::move(environment))
{
    if (!m_environment.engine)
        m_environment.engine = LocationSimulator::shared();
    if (!m_environment.after)
        m_environment.after = [](double seconds, std::function<void()> work) {
            DispatchQueue::main()->asyncAfter(seconds, std::move(work));
        };
    if (!m_environment.clock)
        m_environment.clock = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
    m_actions = std::make_shared<Actions>(this);

    m_mapView = new MapView(this);
    m_mapView->installEventFilter(this);
    QPointer<GPSViewController> self(this);
    m_drawInfo = new DrawingHint(
        this, [self] { self ? self->doneDraw() : void(); },
        [self] { self ? self->cancelDraw() : void(); });
    m_drawInfo->hide();
    layoutChildren();
    observeEngine();
}

GPSViewController::~GPSViewController() = default;

void GPSViewController::observeEngine()
{
    QPointer<GPSViewController> self(this);
    m_observers.append(observeNotification(LocationSimulator::locationsChange,
                                           DispatchQueue::main(),
                                           [self](const Notification &, const ObjectPtr &) {
                                               if (self)
                                                   self->routeDidChange();
                                           }));
    m_observers.append(
        observeNotification(LocationSimulator::currentLocationUpdate, DispatchQueue::main(),
                            [self](const Notification &notification, const ObjectPtr &) {
                                if (self)
                                    self->currentLocationDidUpdate(notification.userInfo);
                            }));
}

void GPSViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_initialDisplayScheduled)
        return;
    m_initialDisplayScheduled = true;
    QPointer<GPSViewController> self(this);
    m_environment.after(initialDisplaySeconds, [self] {
        if (self)
            self->initialDisplay();
    });
}

void GPSViewController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void GPSViewController::layoutChildren()
{
    if (m_mapView)
        m_mapView->setGeometry(rect());
    if (m_captureView && m_mapView)
        m_captureView->setGeometry(m_mapView->geometry());
    if (m_drawInfo) {
        const QSize hint = m_drawInfo->sizeHint();
        const int width = std::min(hint.width(), std::max(0, this->width() - 20));
        m_drawInfo->setGeometry((this->width() - width) / 2, 12, width, hint.height());
    }
}

MapPolyline
GPSViewController::polyline(const QString &title,
                            const std::shared_ptr<const PolylineGeometry> &geometry) const
{
    MapPolyline overlay{title, geometry};
    if (title == borderTitle) {
        overlay.color = Qt::white;
        overlay.lineWidth = borderWidth;
    } else if (title == trackTitle) {
        overlay.color = palette().color(QPalette::Highlight);
        overlay.lineWidth = trackWidth;
    }
    return overlay;
}

void GPSViewController::updateRoute(bool animated)
{
    if (!m_mapView)
        return;
    m_mapView->removeAllOverlays();
    const std::vector<Location> &locations = engine().locations();
    std::shared_ptr<const PolylineGeometry> geometry;
    try {
        geometry = std::make_shared<const PolylineGeometry>(locations);
    } catch (const std::bad_alloc &) {
        // The route plays all the same; only its line is not drawn.
        Log::location().error("The route of %{PUBLIC}@ points is too large to draw",
                              QString::number(locations.size()));
        emit toolbarNeedsRevalidation();
        return;
    }
    m_mapView->addOverlay(polyline(borderTitle, geometry));
    m_mapView->addOverlay(polyline(trackTitle, geometry));
    if (locations.size() >= 2)
        m_mapView->showWorldRect(geometry->worldBounds(), routeInsets, animated);
    else if (locations.size() == 1)
        m_mapView->setCamera(locations.front().coordinate, cameraMetres, animated);
    emit toolbarNeedsRevalidation();
}

void GPSViewController::routeDidChange()
{
    bool animated = true;
    const std::vector<Location> &locations = engine().locations();
    if (m_mapView && !locations.empty())
        animated = distanceMetres(m_mapView->centreCoordinate(), locations.front().coordinate) <
                   animationLimitMetres;
    updateRoute(animated);
}

void GPSViewController::showCurrentLocation(const std::optional<Location> &location)
{
    if (!m_mapView)
        return;
    if (!location) {
        if (m_currentLocation)
            m_mapView->removeAnnotation(m_currentLocation);
        m_currentLocation.reset();
    } else if (!m_currentLocation) {
        m_currentLocation = std::make_shared<MapAnnotation>(currentTitle, location->coordinate,
                                                            currentLocationImage());
        m_mapView->addAnnotation(m_currentLocation);
    } else {
        m_currentLocation->setCoordinate(location->coordinate);
    }
}

void GPSViewController::currentLocationDidUpdate(const QVariantMap &userInfo)
{
    const QVariant value = userInfo.value("location");
    if (value.metaType() == QMetaType::fromType<Location>())
        showCurrentLocation(value.value<Location>());
    else
        showCurrentLocation(std::nullopt);
}

void GPSViewController::initialDisplay()
{
    updateRoute(false);
    const std::optional<Location> current = engine().currentLocation();
    showCurrentLocation(current);
    if (!current && m_mapView)
        m_mapView->setCamera(defaultCoordinate(), cameraMetres, false);
}

void GPSViewController::beginDraw(DrawMode mode)
{
    if (!m_mapView)
        return;
    if (!isDrawing()) {
        m_pendingMouseDown.reset();
        m_captureView = new ScribbleView(this);
        m_captureView->setGeometry(m_mapView->geometry());
        m_captureView->show();
        m_captureView->raise();
        m_drawInfo->show();
        m_drawInfo->raise();
        layoutChildren();
    }
    m_drawMode = mode;
    emit toolbarNeedsRevalidation();
}

void GPSViewController::doneDraw()
{
    if (!m_captureView || !m_mapView || !m_drawMode)
        return;
    m_drawInfo->hide();
    const DrawMode mode = *m_drawMode;
    std::vector<QPointF> points;
    points.reserve(m_captureView->line().size());
    for (const QPointF &point : m_captureView->line())
        points.push_back(m_mapView->mapFrom(this, m_captureView->mapTo(this, point)));
    const QPointer<MapView> map = m_mapView;
    std::vector<QGeoCoordinate> drawn;
    if (points.size() >= 3)
        drawn = strokeCoordinates(
            points, [map](const QPointF &point) { return map->pointToCoordinate(point); });
    endDrawing();

    const std::size_t count = drawnLocationCount(drawn, mode);
    if (count > maximumDrawnLocations) {
        refuseLongStroke(count, mode);
        return;
    }
    if (count == 0)
        return;
    const double start = m_environment.clock();
    if (count <= backgroundConversionLocations) {
        engine().useWithLocations(routeThrough(drawn, mode, start));
        return;
    }
    // Long strokes are walked off the main thread; the route then goes to
    // the engine as a route file's does.
    DispatchQueue::userInitiated()->async(
        [engine = m_environment.engine, drawn = std::move(drawn), mode, start] {
            auto route = std::make_shared<std::vector<Location>>(routeThrough(drawn, mode, start));
            DispatchQueue::main()->async(
                [engine, route] { engine->useWithLocations(std::move(*route)); });
        });
}

AlertSpec GPSViewController::longStrokeAlert(std::size_t count, DrawMode mode)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.messageText = loc("The Route Is Too Long", "GPS_DRAW_TOO_LONG_ITEM_TITLE");
    const QLocale locale;
    // Another mode helps only when it steps farther, and so needs fewer
    // locations for the same stroke.
    const auto modes = allDrawModes();
    const bool fewerElsewhere = std::any_of(modes.begin(), modes.end(), [mode](DrawMode other) {
        return stepMetres(other) > stepMetres(mode);
    });
    const QString advice =
        fewerElsewhere ? loc("Zoom in to draw a shorter route, or choose a faster mode.",
                             "GPS_DRAW_ZOOM_IN_OR_FASTER_ITEM_LABEL")
                       : loc("Zoom in to draw a shorter route.", "GPS_DRAW_ZOOM_IN_ITEM_LABEL");
    spec.informativeText =
        loc("This drawing would need %1 locations; a drawn route holds at most %2.",
            "GPS_DRAW_TOO_LONG_ITEM_LABEL")
            .arg(locale.toString(qulonglong(count)),
                 locale.toString(qulonglong(maximumDrawnLocations))) +
        QLatin1Char(' ') + advice;
    return spec;
}

void GPSViewController::refuseLongStroke(std::size_t count, DrawMode mode)
{
    AlertPresenter::shared()->run(longStrokeAlert(count, mode));
}

void GPSViewController::cancelDraw()
{
    if (isDrawing())
        endDrawing();
}

void GPSViewController::endDrawing()
{
    if (m_drawInfo)
        m_drawInfo->hide();
    if (m_captureView) {
        m_captureView->hide();
        m_captureView->deleteLater();
        m_captureView = nullptr;
    }
    m_drawMode.reset();
    emit toolbarNeedsRevalidation();
}

void GPSViewController::mouseDownAt(const QPointF &point)
{
    if (isDrawing() || !m_mapView)
        return;
    const QPointF onMap = m_mapView->mapFrom(this, point);
    if (!QRectF(m_mapView->rect()).contains(onMap))
        return;
    m_pendingMouseDown = onMap;
    const quint64 press = ++m_press;
    QPointer<GPSViewController> self(this);
    m_environment.after(longPressSeconds, [self, press] {
        if (self)
            self->longPressFired(press);
    });
}

void GPSViewController::mouseDraggedAt(const QPointF &)
{
    m_pendingMouseDown.reset();
}

void GPSViewController::mouseUpAt(const QPointF &)
{
    m_pendingMouseDown.reset();
}

void GPSViewController::longPressFired(quint64 press)
{
    // A timer left by an earlier press must not cut a later press short.
    if (!m_pendingMouseDown || press != m_press || !m_mapView)
        return;
    const QGeoCoordinate coordinate = m_mapView->pointToCoordinate(*m_pendingMouseDown);
    m_pendingMouseDown.reset();
    setRoute(coordinate);
}

void GPSViewController::setRoute(const QGeoCoordinate &coordinate)
{
    engine().useWithLocations({Location::coordinateOnly(
        coordinate.latitude(), coordinate.longitude(), m_environment.clock())});
}

void GPSViewController::setLocation(const QGeoCoordinate &coordinate)
{
    setRoute(coordinate);
}

void GPSViewController::copyCoordinate(const QGeoCoordinate &coordinate)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(
            QString::asprintf("%.06f, %.06f", coordinate.latitude(), coordinate.longitude()));
}

MenuPtr GPSViewController::contextMenuAt(const QPointF &point) const
{
    if (isDrawing() || !m_mapView)
        return nullptr;
    const QPointF onMap = m_mapView->mapFrom(this, point);
    if (!QRectF(m_mapView->rect()).contains(onMap))
        return nullptr;
    const QGeoCoordinate coordinate = m_mapView->pointToCoordinate(onMap);
    auto menu = std::make_shared<Menu>(QString());
    const auto item = [&](const QString &title, const QString &action) {
        auto made = MenuItem::make(title, action);
        made->setTarget(m_actions);
        return made;
    };
    auto setLocation = item(loc("Set Location", "GPS_MAP_SETLOCTATION_ITEM_TITLE"), "dropPin:");
    setLocation->setRepresentedObject(coordinate);
    auto copy = item(loc("Copy Coordinates", "GPS_MAP_COPYLOCATION_ITEM_TITLE"), "copyLocation:");
    copy->setRepresentedObject(coordinate);
    menu->setItems({setLocation, copy, MenuItem::separator(),
                    item(loc("Manage Presets…", "GPS_PRESETS_ITEM_TITLE"), "managePresets:")});
    return menu;
}

void GPSViewController::showContextMenu(const QPointF &point, const QPoint &globalPosition)
{
    if (auto menu = contextMenuAt(point))
        ContextMenuPresenter::shared()->popUp(menu, globalPosition);
}

bool GPSViewController::handleMouse(QMouseEvent *event, const QPointF &point)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (event->button() == Qt::LeftButton)
            mouseDownAt(point);
        else if (event->button() == Qt::RightButton) {
            showContextMenu(point, event->globalPosition().toPoint());
            return true;
        }
        break;
    case QEvent::MouseMove:
        if (event->buttons() != Qt::NoButton)
            mouseDraggedAt(point);
        break;
    case QEvent::MouseButtonRelease: mouseUpAt(point); break;
    default: break;
    }
    return false;
}

bool GPSViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mapView &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove ||
         event->type() == QEvent::MouseButtonRelease)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        // The map goes on panning; the pane only watches, except for the
        // right button, whose menu is the pane's.
        return handleMouse(mouse, m_mapView->mapTo(this, mouse->position()));
    }
    return QWidget::eventFilter(watched, event);
}

void GPSViewController::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    handleMouse(event, event->position());
}

void GPSViewController::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    handleMouse(event, event->position());
}

void GPSViewController::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    handleMouse(event, event->position());
}

void GPSViewController::toggleMapStyle()
{
    if (!m_mapView)
        return;
    if (m_mapView->mapType() == MapView::MapType::standard) {
        m_mapView->setMapType(MapView::MapType::hybrid);
        m_mapView->setPointOfInterestFilter(MapView::PointOfInterestFilter::excludingAll);
    } else {
        m_mapView->setMapType(MapView::MapType::standard);
        m_mapView->setPointOfInterestFilter(MapView::PointOfInterestFilter::includingAll);
    }
}

void GPSViewController::zoomToRoute()
{
    if (!m_mapView)
        return;
    const std::vector<Location> &locations = engine().locations();
    if (locations.size() >= 2)
        m_mapView->showWorldRect(PolylineGeometry(locations).worldBounds(), routeInsets, true);
    else if (locations.size() == 1)
        m_mapView->setCamera(locations.front().coordinate, cameraMetres, true);
    else
        m_mapView->setCamera(m_mapView->centreCoordinate(), cameraMetres, true);
}

double GPSViewController::zoomLevel() const
{
    if (!m_mapView)
        return 0;
    return std::log2(360.0 * (m_mapView->width() / 256.0) / m_mapView->region().longitudeSpan);
}

void GPSViewController::zoomOut()
{
    if (!m_mapView)
        return;
    const double zoom = zoomLevel();
    if (!(zoom > 1))
        return;
    const double span = 360.0 / std::exp2(zoom - 2) * m_mapView->width() / 256.0;
    m_mapView->setRegion({m_mapView->centreCoordinate(), 0, span}, true);
}

void GPSViewController::zoomIn()
{
    if (!m_mapView)
        return;
    const double zoom = zoomLevel();
    if (!(zoom < 17))
        return;
    const double span = 360.0 / std::exp2(zoom + 2) * m_mapView->width() / 256.0;
    m_mapView->setRegion({m_mapView->centreCoordinate(), 0, span}, true);
}

void GPSViewController::pan(PanDirection direction)
{
    if (!m_mapView)
        return;
    const double w = m_mapView->width(), h = m_mapView->height();
    QPointF point;
    switch (direction) {
    case PanDirection::left: point = {0.1 * w, 0.5 * h}; break;
    case PanDirection::right: point = {0.9 * w, 0.5 * h}; break;
    case PanDirection::down: point = {0.5 * w, 0.9 * h}; break;
    case PanDirection::up: point = {0.5 * w, 0.1 * h}; break;
    }
    m_mapView->setCentreCoordinate(m_mapView->pointToCoordinate(point), true);
}

} // namespace corvane
