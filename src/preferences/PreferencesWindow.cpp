#include "preferences/PreferencesWindow.h"

#include "preferences/CapturePreferenceViewController.h"
#include "preferences/GeneralPreferenceViewController.h"
#include "preferences/LocationsPreferenceViewController.h"
#include "preferences/StatusBarPreferenceViewController.h"
#include "settings/SettingsWindowController.h"

namespace corvane {

QList<SettingsPane *> makePreferencePanes(const std::shared_ptr<Updater> &updater)
{
    QList<SettingsPane *> panes;
    panes << new GeneralPreferenceViewController(updater);
    panes << new StatusBarPreferenceViewController;
    panes << new LocationsPreferenceViewController;
    panes << new CapturePreferenceViewController;
    return panes;
}

std::shared_ptr<SettingsWindowController>
makePreferencesWindowController(const std::shared_ptr<Updater> &updater)
{
    return std::make_shared<SettingsWindowController>(makePreferencePanes(updater),
                                                      Settings::Style::toolbarItems, true, true);
}

} // namespace corvane
