#pragma once

#include <QList>

#include <memory>

namespace corvane {

class SettingsPane;
class SettingsWindowController;
class Updater;

// The application's panes, in window order; the caller owns them.
QList<SettingsPane *> makePreferencePanes(const std::shared_ptr<Updater> &updater);

// The one settings window of the application: its panes as toolbar items,
// animated, the toolbar hidden for a single pane.
std::shared_ptr<SettingsWindowController>
makePreferencesWindowController(const std::shared_ptr<Updater> &updater);

} // namespace corvane
