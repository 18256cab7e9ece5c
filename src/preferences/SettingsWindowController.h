#pragma once

#include "platform/WindowController.h"

#include <QString>

#include <optional>

namespace corvane {

// The identifier of a settings pane.
struct SettingsPaneIdentifier {
    QString rawValue;

    static SettingsPaneIdentifier general() { return {"general"}; }
    static SettingsPaneIdentifier statusBar() { return {"statusBar"}; }
    static SettingsPaneIdentifier locations() { return {"locations"}; }
    static SettingsPaneIdentifier capture() { return {"capture"}; }

    bool operator==(const SettingsPaneIdentifier &) const = default;
};

// The settings window. Until its panes land it has no window, and showing a
// pane does nothing.
class SettingsWindowController : public WindowController {
public:
    // Shows the window at the first pane with that identifier, else at the
    // first pane.
    virtual void showPane(const std::optional<SettingsPaneIdentifier> &pane);

    void showWindow() override { showPane(std::nullopt); }
    bool hasWindow() const override { return false; }
    void setStaysOnTop(bool) override {}
    void raise() override {}
    void focusContent() override {}
};

} // namespace corvane
