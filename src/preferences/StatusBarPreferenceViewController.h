#pragma once

#include "core/Observer.h"
#include "platform/queues/Scheduler.h"
#include "preferences/PresetListController.h"
#include "settings/SettingsPane.h"

#include <QStringList>

#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QTableView;

namespace corvane {

class SegmentedControl;
class StatusBarPreset;
class StatusBarPresetRepository;

// The "Status Bars" settings pane: the status-bar presets in title order,
// and for the selected one its Wi-Fi, cellular, data network, time and
// battery. Edits go straight into the preset, which the repository saves;
// the battery level only once the slider has rested. Main thread only.
class StatusBarPreferenceViewController : public SettingsPane {
    Q_OBJECT
public:
    static constexpr const char *identifier = "statusBar";
    static constexpr const char *batteryDebounceKey = "PreferenceBatterySlider";
    static constexpr double batteryDelay = 1.0;

    explicit StatusBarPreferenceViewController(
        std::shared_ptr<Scheduler> scheduler = Scheduler::system(), QWidget *parent = nullptr);
    ~StatusBarPreferenceViewController() override;

    // The choices of the cellular mode, in the order of its indexes.
    static QStringList cellStatusOptions();

    PresetListController *presetList() const { return m_list; }
    QTableView *sourceTable() const { return m_list->sourceTable(); }
    SegmentedControl *addRemoveControl() const { return m_list->addRemoveControl(); }
    SegmentedControl *wifiStrengthControl() const { return m_wifiStrengthControl; }
    SegmentedControl *cellStrengthControl() const { return m_cellStrengthControl; }
    SegmentedControl *dataNetworkControl() const { return m_dataNetworkControl; }
    SegmentedControl *batteryStateControl() const { return m_batteryStateControl; }
    QComboBox *cellStatusControl() const { return m_cellStatusControl; }
    QLineEdit *carrierNameField() const { return m_carrierNameField; }
    QLineEdit *timeField() const { return m_timeField; }
    QSlider *batteryPercentSlider() const { return m_batteryPercentSlider; }
    QLabel *batteryPercent() const { return m_batteryPercent; }

    // The slider's action: the label at once, the preset's level once the
    // slider has rested for batteryDelay.
    void sliderChanged();

private:
    std::shared_ptr<StatusBarPreset> selectedPreset() const;
    void selectionUpdate();
    void observeSelectedPreset();
    // Shows the selected preset's values in the controls.
    void showPresetValues();
    template <class Setter> void editSelected(Setter setter);

    const std::shared_ptr<Scheduler> m_scheduler;
    const std::shared_ptr<StatusBarPresetRepository> m_repository;
    PresetListController *m_list;
    std::vector<ObserverPtr> m_presetObservers;

    SegmentedControl *m_wifiStrengthControl;
    SegmentedControl *m_cellStrengthControl;
    SegmentedControl *m_dataNetworkControl;
    SegmentedControl *m_batteryStateControl;
    QComboBox *m_cellStatusControl;
    QLineEdit *m_carrierNameField;
    QLineEdit *m_timeField;
    QSlider *m_batteryPercentSlider;
    QLabel *m_batteryPercent;
    QWidget *m_details;
};

} // namespace corvane
