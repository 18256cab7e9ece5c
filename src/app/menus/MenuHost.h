#pragma once

#include <memory>
#include <optional>

namespace corvane {

namespace Settings {
struct PaneIdentifier;
}

// What the status menus ask of the program around them: to let go of the
// global hot keys while a menu is open, and the windows and jobs that their
// own items start. The shell installs itself as the host; without one those
// items do nothing.
class MenuHost {
public:
    virtual ~MenuHost() = default;

    virtual void bindHotKeys() = 0;
    virtual void unbindHotKeys() = 0;
    virtual void showPreferencesPane(const std::optional<Settings::PaneIdentifier> &pane) = 0;
    virtual void showAboutWindow() = 0;
    virtual void showTaskWindow() = 0;
    virtual void deleteDerivedData() = 0;
    virtual void exportDebugLogs() = 0;

    // The newest host installed, while it lives.
    static std::shared_ptr<MenuHost> current();
    static void setCurrent(const std::shared_ptr<MenuHost> &host);
};

} // namespace corvane
