#pragma once

#include "platform/desktop/WindowController.h"
#include "settings/Settings.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class SettingsPane;
class SettingsPaneConvertible;
class SettingsTabViewController;
class UserInteractionPausableWindow;

// The settings window: one window whose toolbar switches between the panes,
// resized to each pane, titled after it, and placed where the user left it
// (kept in the standard user defaults). Used on the main thread.
class SettingsWindowController : public QObject, public WindowController {
    Q_OBJECT
public:
    // Takes ownership of the panes; there must be at least one.
    explicit SettingsWindowController(const QList<SettingsPane *> &panes,
                                      Settings::Style style = Settings::Style::toolbarItems,
                                      bool animated = true, bool hidesToolbarForSingleItem = true);
    // Makes the panes from their descriptions, in order.
    explicit SettingsWindowController(const std::vector<const SettingsPaneConvertible *> &panes,
                                      Settings::Style style = Settings::Style::toolbarItems,
                                      bool animated = true, bool hidesToolbarForSingleItem = true);
    ~SettingsWindowController() override;

    SettingsTabViewController *tabViewController() const { return m_tabViewController; }
    UserInteractionPausableWindow *window() const { return m_window.get(); }

    bool hidesToolbarForSingleItem() const { return m_hidesToolbarForSingleItem; }
    // The toolbar shows unless this holds and there is a single pane.
    void setHidesToolbarForSingleItem(bool hides);

    bool isAnimated() const;
    void setAnimated(bool animated);

    // Shows the window at the first pane with that identifier (the first pane
    // when none has it); with no identifier, at the pane shown before, else
    // the first. The window opens where it was left (its frame is stored),
    // else centred on the screen that holds the pointer.
    virtual void showPane(const std::optional<Settings::PaneIdentifier> &identifier);

    void showWindow() override { showPane(std::nullopt); }
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool staysOnTop) override;
    void raise() override;
    void focusContent() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeWindow();
    void saveFrame();
    std::optional<QRect> storedFrame() const;

    SettingsTabViewController *m_tabViewController;
    std::unique_ptr<UserInteractionPausableWindow> m_window;
    bool m_hidesToolbarForSingleItem;
    // Set once the window has taken its stored place, so that placing it
    // does not overwrite what it reads.
    bool m_autosaves = false;
};

} // namespace corvane
