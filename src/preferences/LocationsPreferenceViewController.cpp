#include "preferences/LocationsPreferenceViewController.h"

#include "location/LocationPreset.h"
#include "location/LocationPresetRepository.h"
#include "location/MapView.h"
#include "platform/menus/ActionTarget.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/Loc.h"
#include "platform/menus/MenuItem.h"
#include "preferences/PresetListController.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

// What the map's menu item is sent to; the pane owns it.
class LocationsPreferenceViewController::Actions : public ActionTarget {
public:
    explicit Actions(LocationsPreferenceViewController *pane) : m_pane(pane)
    {
        addAction("movePreset:", [this](const ObjectPtr &sender) {
            const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
            const auto coordinate =
                item ? item->representedObject().as<QGeoCoordinate>() : std::nullopt;
            if (coordinate && m_pane)
                m_pane->movePreset(*coordinate);
        });
    }

private:
    QPointer<LocationsPreferenceViewController> m_pane;
};

LocationsPreferenceViewController::LocationsPreferenceViewController(QWidget *parent)
    : SettingsPane({identifier}, loc("Locations", "LOCATIONS_PANE_TITLE"),
                   QIcon(":/images/Pref - Locations.svg"), parent),
      m_repository(LocationPresetRepository::shared())
{
    m_actions = std::make_shared<Actions>(this);
    m_list = new PresetListController(PresetListAccess::of<LocationPreset>(m_repository), this);

    m_coordinateField = new QLineEdit;
    m_coordinateField->setPlaceholderText("37.335070, -122.009154");
    m_coordinateField->installEventFilter(this);
    m_typingTimer = new QTimer(this);
    m_typingTimer->setSingleShot(true);
    m_typingTimer->setInterval(typingPauseMilliseconds);
    connect(m_typingTimer, &QTimer::timeout, this, &LocationsPreferenceViewController::copyText);
    connect(m_coordinateField, &QLineEdit::textEdited, m_typingTimer, qOverload<>(&QTimer::start));
    connect(m_coordinateField, &QLineEdit::returnPressed, this, [this] {
        copyText();
        showCoordinateText(true);
    });

    m_mapView = new MapView;
    m_mapView->setMinimumSize(360, 260);
    m_mapView->installEventFilter(this);
    // Keep the centre; show zoom level 12 there.
    m_mapView->setCentre(m_mapView->centreCoordinate(), mapZoom, false);

    auto *details = new QWidget;
    auto *detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(loc("Coordinate:", "LOCATIONS_COORDINATE_ITEM_LABEL"), m_coordinateField);
    detailsLayout->addLayout(form);
    detailsLayout->addWidget(m_mapView, 1);

    QWidget *list = m_list->takeWidget();
    list->setFixedWidth(190);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);
    layout->addWidget(list);
    layout->addWidget(details, 1);

    connect(m_list, &PresetListController::selectionChanged, this,
            &LocationsPreferenceViewController::selectionUpdate);
    selectionUpdate();
}

LocationsPreferenceViewController::~LocationsPreferenceViewController() = default;

std::shared_ptr<LocationPreset> LocationsPreferenceViewController::selectedPreset() const
{
    return m_list->firstSelectedAs<LocationPreset>();
}

void LocationsPreferenceViewController::selectionUpdate()
{
    observeSelectedPreset();
    showCoordinateText(true);
    m_coordinateField->setEnabled(selectedPreset() != nullptr);
    updateMapLocation();
}

void LocationsPreferenceViewController::observeSelectedPreset()
{
    m_presetObservers.clear();
    const auto preset = selectedPreset();
    if (!preset)
        return;
    // Moved elsewhere (the GPS window, another edit): the text and pin follow.
    const auto follow = [this] {
        showCoordinateText(false);
        if (const auto preset = selectedPreset(); preset && m_pin)
            m_pin->setCoordinate(preset->coordinate());
    };
    m_presetObservers.push_back(preset->observe("coordinate", onMainThread(this, follow)));
}

void LocationsPreferenceViewController::showCoordinateText(bool evenWhileEditing)
{
    if (!evenWhileEditing && m_coordinateField->hasFocus())
        return;
    const auto preset = selectedPreset();
    const QString text = preset ? preset->coordinateText() : QString();
    if (m_coordinateField->text() != text)
        m_coordinateField->setText(text);
}

void LocationsPreferenceViewController::copyText()
{
    if (const auto preset = selectedPreset())
        preset->setCoordinateText(m_coordinateField->text());
    updateMapLocation();
}

void LocationsPreferenceViewController::updateMapLocation()
{
    m_typingTimer->stop();
    if (m_pin) {
        m_mapView->removeAnnotation(m_pin);
        m_pin.reset();
    }
    const auto preset = selectedPreset();
    if (!preset)
        return;
    m_pin = std::make_shared<MapAnnotation>(preset->title(), preset->coordinate());
    m_mapView->addAnnotation(m_pin);
    m_mapView->setCentreCoordinate(preset->coordinate(), false);
}

void LocationsPreferenceViewController::editingDidEnd()
{
    // A text that was never applied, or was no coordinate, gives way to the
    // stored one: the field never shows what the preset does not hold.
    updateMapLocation();
    showCoordinateText(true);
}

MenuPtr LocationsPreferenceViewController::contextMenuAt(const QPointF &mapPoint) const
{
    if (!selectedPreset() || !QRectF(m_mapView->rect()).contains(mapPoint))
        return nullptr;
    auto item =
        MenuItem::make(loc("Set Location", "GPS_MAP_SETLOCTATION_ITEM_TITLE"), "movePreset:");
    item->setTarget(m_actions);
    item->setRepresentedObject(m_mapView->pointToCoordinate(mapPoint));
    auto menu = std::make_shared<Menu>(QString());
    menu->setItems({item});
    return menu;
}

void LocationsPreferenceViewController::movePreset(const QGeoCoordinate &coordinate)
{
    if (const auto preset = selectedPreset()) {
        preset->setLatitude(coordinate.latitude());
        preset->setLongitude(coordinate.longitude());
    }
    updateMapLocation();
}

void LocationsPreferenceViewController::showContextMenu(const QPointF &mapPoint,
                                                        const QPoint &globalPosition)
{
    if (auto menu = contextMenuAt(mapPoint))
        ContextMenuPresenter::shared()->popUp(menu, globalPosition);
}

bool LocationsPreferenceViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mapView && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            showContextMenu(mouse->position(), mouse->globalPosition().toPoint());
            return true;
        }
    } else if (watched == m_coordinateField && event->type() == QEvent::FocusOut) {
        editingDidEnd();
    }
    return SettingsPane::eventFilter(watched, event);
}

void LocationsPreferenceViewController::mousePressEvent(QMouseEvent *event)
{
    SettingsPane::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        showContextMenu(m_mapView->mapFrom(this, event->position()),
                        event->globalPosition().toPoint());
}

} // namespace corvane
