#pragma once

#include "core/Observer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace corvane {

class CorvaneSettings;
class LocationSimulator;

// The GPS window's sidebar: how the playback engine stamps, paces and speeds
// its steps, and whether it starts over at the end. A choice only assigns the
// engine, which stores it; the controls follow the stored settings, so a
// change made elsewhere shows here too.
class GPSPlaybackOptionsViewController : public QWidget {
    Q_OBJECT
public:
    // The shared engine and settings when empty.
    explicit GPSPlaybackOptionsViewController(std::shared_ptr<LocationSimulator> engine = {},
                                              std::shared_ptr<CorvaneSettings> settings = {},
                                              QWidget *parent = nullptr);
    ~GPSPlaybackOptionsViewController() override;

    QComboBox *dateModeSelector() const { return m_dateModeSelector; }
    QComboBox *timeModeSelector() const { return m_timeModeSelector; }
    QComboBox *paceSelector() const { return m_paceSelector; }
    QComboBox *speedSelector() const { return m_speedSelector; }
    QCheckBox *autoRewindOption() const { return m_autoRewindOption; }
    QWidget *warningRow() const { return m_warningRow; }
    QWidget *unsupportedRow() const { return m_unsupportedRow; }
    QWidget *dateChangeRow() const { return m_dateChangeRow; }
    QWidget *timeChangeRow() const { return m_timeChangeRow; }

    int dateModeSelection() const { return m_dateModeSelection; }
    int timeModeSelection() const { return m_timeModeSelection; }
    int paceSelection() const { return m_paceSelection; }
    int speedSelection() const { return m_speedSelection; }
    bool autoRewindSelection() const { return m_autoRewindSelection; }
    bool dateCustomizationEnabled() const { return m_dateCustomizationEnabled; }

    void setDateModeSelection(int index);
    void setTimeModeSelection(int index);
    void setPaceSelection(int index);
    void setSpeedSelection(int index);
    void setAutoRewindSelection(bool on);
    // Collapses the warning, date and time rows, whatever the value; the
    // unsupported row shows only while the fields are not supported.
    void setDateCustomizationEnabled(bool enabled);

    // The control actions: each assigns the engine only.
    void dateModeChanged(int index);
    void timeModeChanged(int index);
    void paceChanged(int index);
    void speedChanged(int index);
    void autoRewindChanged(bool on);
    // Back to today, now, realtime and normal; automatic rewind stays.
    void resetPrefs();

private:
    void observe();
    // Runs the change here at once on the main thread, else on its next turn.
    static void onMain(const QPointer<GPSPlaybackOptionsViewController> &weak,
                       std::function<void(GPSPlaybackOptionsViewController &)> change);

    std::shared_ptr<LocationSimulator> m_engine;
    std::shared_ptr<CorvaneSettings> m_settings;
    ObserverCollection m_kvoObservers;
    QPointer<QWidget> m_warningRow;
    QPointer<QWidget> m_unsupportedRow;
    QPointer<QWidget> m_dateChangeRow;
    QPointer<QWidget> m_timeChangeRow;
    QPointer<QComboBox> m_dateModeSelector;
    QPointer<QComboBox> m_timeModeSelector;
    QPointer<QComboBox> m_paceSelector;
    QPointer<QComboBox> m_speedSelector;
    QPointer<QCheckBox> m_autoRewindOption;
    int m_dateModeSelection = 0;
    int m_timeModeSelection = 0;
    int m_paceSelection = 0;
    int m_speedSelection = 0;
    bool m_autoRewindSelection = true;
    bool m_dateCustomizationEnabled = false;
};

} // namespace corvane
