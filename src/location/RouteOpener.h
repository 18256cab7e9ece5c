#pragma once

#include "location/DrawMode.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/OpenPanel.h"

#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace corvane {

class LocationSimulator;

// Turns a GPX or CSV file, or one of the sample routes, into the playback
// engine's route. Reading, parsing and filling run on the user-initiated
// queue; alerts and the engine are used on the main thread. A failure is
// shown in an alert and leaves the engine's route as it was. Nothing here
// keeps the opener alive: work in flight holds the engine weakly.
class RouteOpener {
public:
    static constexpr const char *runSample = "Run";
    static constexpr const char *bikeSample = "Bike";
    static constexpr const char *driveSample = "Drive";

    // The shared engine when empty.
    explicit RouteOpener(std::shared_ptr<LocationSimulator> engine = {});

    // The "Select GPX" panel; the file chosen is opened.
    void runOpenPanel();
    static OpenPanelSpec openPanelSpec();

    // Returns at once. The extension, in any case, picks the reader: "gpx"
    // or "csv"; any other file is ignored.
    void openRoute(const QUrl &url);
    // A sample route by name; an unknown name does nothing. Samples are not
    // recent documents.
    void openSample(const QString &name);

    // The question asked when a track has neither times nor speeds: the four
    // travel modes, then "Cancel".
    static AlertSpec missingDataAlert();
    // The mode an answer picks; nothing for "Cancel" or a closed alert.
    static std::optional<DrawMode> missingDataChoice(const AlertResponse &response);

private:
    std::weak_ptr<LocationSimulator> m_engine;
};

} // namespace corvane
