#include "preferences/SettingsWindowController.h"

namespace corvane {

void SettingsWindowController::showPane(const std::optional<SettingsPaneIdentifier> &pane)
{
    Q_UNUSED(pane);
}

} // namespace corvane
