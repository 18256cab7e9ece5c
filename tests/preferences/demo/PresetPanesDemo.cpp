// Opens the settings window at the Status Bars or Locations pane with a few
// presets, for screenshots under Xvfb:
//
//   preset_panes_demo statusBar|locations [--grab OUTPUT.png]
//
// With --grab it saves what the X server shows of the window and quits.
// Settings and presets live in a temporary folder.
#include "core/CorvaneSettings.h"
#include "location/LocationPreset.h"
#include "location/LocationPresetRepository.h"
#include "model/StatusBarPreset.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/files/SystemPaths.h"
#include "preferences/PreferencesWindow.h"
#include "settings/SettingsWindowController.h"
#include "settings/UserInteractionPausableWindow.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void seedPresets()
{
    auto iPhone = corvane::StatusBarPreset::make("Marketing Screenshots");
    iPhone->setCarrierName("Corvane");
    iPhone->setBatteryLevel(100);
    iPhone->setDataNetworkButtonIndex(2);
    auto lowBattery = corvane::StatusBarPreset::make("Low Battery");
    lowBattery->setBatteryLevel(12);
    lowBattery->setWifiButtonIndex(1);
    auto offline = corvane::StatusBarPreset::make("No Service");
    offline->setCarrierStatusIndex(1);
    offline->setWifiButtonIndex(4);
    corvane::StatusBarPresetRepository::shared()->setPresets({iPhone, lowBattery, offline});

    const auto location = [](const QString &title, double latitude, double longitude) {
        auto preset = corvane::LocationPreset::make(title);
        preset->setLatitude(latitude);
        preset->setLongitude(longitude);
        return preset;
    };
    corvane::LocationPresetRepository::shared()->setPresets(
        {location("The Mothership", 37.33507030721554, -122.00915439213304),
         location("Golden Gate Bridge", 37.8199, -122.4783),
         location("Brandenburg Gate", 52.516275, 13.377704)});
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    const QStringList arguments = QApplication::arguments();
    const QString pane = arguments.value(1, "statusBar");
    const qsizetype grab = arguments.indexOf("--grab");
    const QString output = grab > 0 ? arguments.value(grab + 1) : QString();
    if (pane != "statusBar" && pane != "locations") {
        std::fprintf(stderr, "usage: preset_panes_demo statusBar|locations [--grab OUTPUT.png]\n");
        return 2;
    }

    QTemporaryDir dir;
    auto paths = corvane::SystemPaths::current();
    paths.home = dir.filePath("home");
    paths.configDir = dir.filePath("config");
    paths.applicationSupport = dir.filePath("support");
    paths.syncDir = dir.filePath("sync");
    corvane::SystemPaths::setCurrent(paths);
    seedPresets();

    auto controller = corvane::makePreferencesWindowController(nullptr);
    controller->showPane(corvane::Settings::PaneIdentifier{pane});
    QWidget *window = controller->window();
    if (!output.isEmpty())
        QTimer::singleShot(1500, window, [window, output] {
            const QPixmap shot = window->screen()->grabWindow(window->winId());
            QApplication::exit(shot.save(output) ? 0 : 1);
        });
    const int code = app.exec();
    corvane::LocationPresetRepository::resetShared();
    return code;
}
