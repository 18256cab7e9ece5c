#pragma once

#include "core/Observer.h"
#include "platform/desktop/VideoExportPresets.h"
#include "settings/SettingsPane.h"

#include <QColor>
#include <QStringList>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace corvane {

class CorvaneSettings;
class StatusBarPresetRepository;

// The "Capture" settings pane: image format, video codec, device mask, save
// folder and the status-bar preset applied before each capture. Every control
// shows the settings store's value and writes a change at once. Used on the
// main thread.
class CapturePreferenceViewController : public SettingsPane {
    Q_OBJECT
public:
    static constexpr const char *identifier = "capture";

    // HEVC can be chosen only when the export presets include the HEVC one.
    explicit CapturePreferenceViewController(
        const QStringList &exportPresets = VideoExportPresets::allExportPresets(),
        QWidget *parent = nullptr);
    ~CapturePreferenceViewController() override;

    void willAppear() override;

    // "None", then the preset titles in title order.
    const QStringList &presetsNames() const { return m_presetsNames; }
    // The save folder with the home folder written "~".
    const QString &currentPath() const { return m_currentPath; }
    int presetSelection() const { return m_presetSelection; }
    int imageSelection() const { return m_imageSelection; }
    int videoSelection() const { return m_videoSelection; }

    QComboBox *imageFormatSelection() const { return m_imageFormatSelection; }
    QComboBox *videoFormatSelection() const { return m_videoFormatSelection; }
    QCheckBox *includeMaskOption() const { return m_includeMaskOption; }
    QLineEdit *savePath() const { return m_savePath; }
    QPushButton *saveDirectoryButton() const { return m_saveDirectoryButton; }
    QComboBox *statusBarSelection() const { return m_statusBarSelection; }
    // The save folder's text colour while nothing exists there.
    static QColor missingFolderColor() { return QColor(Qt::red); }

    // The controls' actions; the row is the chosen item.
    void imageFormatChanged(int row);
    void videoFormatChanges(int row);
    void statusBarChanged(int row);
    void pickSaveDirectory();

private:
    void rebuildPresetsNames();
    void recomputePresetSelection();
    void savePathDidChange();
    void imageFormatDidChange();
    void videoFormatDidChange();
    void includeMaskDidChange();
    // Runs the method now on the main thread, else queues it there: the
    // store reports changes on the thread that made them.
    std::function<void()> onMain(void (CapturePreferenceViewController::*method)());

    const std::shared_ptr<CorvaneSettings> m_settings;
    const std::shared_ptr<StatusBarPresetRepository> m_repository;

    QStringList m_presetsNames;
    // The identifiers of the rows after "None", from the same sorted list as
    // the names.
    QStringList m_presetIdentifiers;
    QString m_currentPath = "?";
    int m_presetSelection = 0;
    int m_imageSelection = 0;
    int m_videoSelection = 0;

    ObserverCollection m_observers;
    std::vector<ObserverPtr> m_kvoObservers;

    QComboBox *m_imageFormatSelection;
    QComboBox *m_videoFormatSelection;
    QCheckBox *m_includeMaskOption;
    QLineEdit *m_savePath;
    QPushButton *m_saveDirectoryButton;
    QComboBox *m_statusBarSelection;
    QColor m_labelColor;
};

} // namespace corvane
