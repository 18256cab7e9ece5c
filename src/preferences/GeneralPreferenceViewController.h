#pragma once

#include "core/Observer.h"
#include "settings/SettingsPane.h"

#include <QDateTime>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace corvane {

class ShortcutView;
class Toolset;
class ToolsetManager;
class Updater;

// The "General" settings pane: start at login, the two global hot keys, the
// Xcode the whole program uses, and the update check. Used on the main thread;
// whatever waits on xcode-select or simctl runs on the user-initiated queue,
// and the toolset manager's notifications bring the outcome back.
class GeneralPreferenceViewController : public SettingsPane {
    Q_OBJECT
public:
    static constexpr const char *identifier = "general";
    static constexpr const char *loginItemErrorMessage = "Error configuring launch behavior";
    // Long enough for an updater to have recorded the check it started.
    static constexpr double updateLabelRefreshDelay = 0.5;

    // Without an updater the update line says "Never." and cannot check.
    explicit GeneralPreferenceViewController(std::shared_ptr<Updater> updater = nullptr,
                                             QWidget *parent = nullptr);
    ~GeneralPreferenceViewController() override;

    void willAppear() override;

    // "Xcode <version> (<build>)".
    static QString xcodeTitle(const Toolset &toolset);
    // "Last Checked: Never." or "Last Checked: <medium date and time>.".
    static QString lastCheckedText(const std::optional<QDateTime> &date);

    // The titles of the Xcode chooser, in the manager's order.
    const QStringList &xcodes() const { return m_xcodes; }
    // Whether the toolset manager has been reached, so the Xcode controls
    // show its state.
    bool isReady() const { return m_manager != nullptr; }

    QCheckBox *loginOption() const { return m_loginOption; }
    ShortcutView *shortcutOption() const { return m_shortcutOption; }
    ShortcutView *deleteDDOption() const { return m_deleteDDOption; }
    QComboBox *xcodeSelection() const { return m_xcodeSelection; }
    QLabel *xcodePathLabel() const { return m_xcodePathLabel; }
    QLabel *updateLastCheckLabel() const { return m_updateLastCheckLabel; }
    QPushButton *updateButton() const { return m_updateButton; }

    // The controls' actions.
    void xcodeChanged(int index);
    void checkForUpdates();
    void loginOptionToggled();

private:
    void managerIsReady(std::shared_ptr<ToolsetManager> manager);
    void currentDidChange();
    void availableToolsetsDidChange();
    void rebuildXcodes();
    void selectCurrentXcode();
    void refreshPathLabel();
    void refreshUpdateLabel();

    const std::shared_ptr<Updater> m_updater;
    std::shared_ptr<ToolsetManager> m_manager;
    // What the chooser's items stand for, in item order.
    std::vector<std::shared_ptr<Toolset>> m_toolsets;
    QStringList m_xcodes;
    ObserverCollection m_observers;

    QCheckBox *m_loginOption;
    ShortcutView *m_shortcutOption;
    ShortcutView *m_deleteDDOption;
    QComboBox *m_xcodeSelection;
    QLabel *m_xcodePathLabel;
    QLabel *m_updateLastCheckLabel;
    QPushButton *m_updateButton;
};

} // namespace corvane
