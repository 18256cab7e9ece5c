#pragma once

#include "core/Observer.h"
#include "platform/menus/Menu.h"
#include "preferences/PresetListController.h"
#include "settings/SettingsPane.h"

#include <QGeoCoordinate>
#include <QPointF>

#include <memory>
#include <vector>

class QLineEdit;
class QTableView;
class QTimer;

namespace corvane {

class LocationPreset;
class LocationPresetRepository;
class MapAnnotation;
class MapView;
class SegmentedControl;

// The "Locations" settings pane: the location presets in title order, the
// selected one's coordinate as text and as a pin on a map. A typed
// coordinate is applied once typing pauses for half a second (or at once on
// Return); a right click on the map offers to move the preset there. Main
// thread only.
class LocationsPreferenceViewController : public SettingsPane {
    Q_OBJECT
public:
    static constexpr const char *identifier = "locations";
    static constexpr int typingPauseMilliseconds = 500;
    // 256-point tiles at level 12: 360 / 4096 / 256 degrees of longitude per
    // point.
    static constexpr double mapZoom = 12;

    explicit LocationsPreferenceViewController(QWidget *parent = nullptr);
    ~LocationsPreferenceViewController() override;

    PresetListController *presetList() const { return m_list; }
    QTableView *sourceTable() const { return m_list->sourceTable(); }
    SegmentedControl *addRemoveControl() const { return m_list->addRemoveControl(); }
    QLineEdit *coordinateField() const { return m_coordinateField; }
    MapView *mapView() const { return m_mapView; }
    const QTimer *typingTimer() const { return m_typingTimer; }
    // The selected preset's pin, if any.
    std::shared_ptr<MapAnnotation> pin() const { return m_pin; }

    // Writes the field's text to the selected preset, then updates the map.
    void copyText();
    // Drops a pending copyText and puts the pin on the selected preset,
    // centred.
    void updateMapLocation();
    // The map's menu for a right click at a point in the map's own
    // coordinates: "Set Location" for the point under it; nothing outside
    // the map or while no preset is selected.
    MenuPtr contextMenuAt(const QPointF &mapPoint) const;
    // "Set Location": the selected preset to the coordinate.
    void movePreset(const QGeoCoordinate &coordinate);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    class Actions;

    std::shared_ptr<LocationPreset> selectedPreset() const;
    void selectionUpdate();
    void observeSelectedPreset();
    // The selected preset's stored text, unless the user is typing there.
    void showCoordinateText(bool evenWhileEditing);
    void editingDidEnd();
    void showContextMenu(const QPointF &mapPoint, const QPoint &globalPosition);

    const std::shared_ptr<LocationPresetRepository> m_repository;
    std::shared_ptr<Actions> m_actions;
    PresetListController *m_list;
    QLineEdit *m_coordinateField;
    MapView *m_mapView;
    QTimer *m_typingTimer;
    std::shared_ptr<MapAnnotation> m_pin;
    std::vector<ObserverPtr> m_presetObservers;
};

} // namespace corvane
