#include "location/RouteOpener.h"

#include "csv/location/CSVParser.h"
#include "location/GPXParser.h"
#include "location/LocationSimulator.h"
#include "location/TrackFill.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/desktop/Workspace.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <new>

namespace corvane {

namespace {

using EngineRef = std::weak_ptr<LocationSimulator>;

void showFailure(const QString &message, const QString &description)
{
    DispatchQueue::main()->async([message, description] {
        Log::location().error("%{PUBLIC}@", description);
        AlertSpec spec;
        spec.style = AlertSpec::Style::Critical;
        spec.messageText = message;
        spec.informativeText = description;
        AlertPresenter::shared()->run(spec);
    });
}

// A route too large for memory fails its opening like any bad file.
QString failureText(const std::exception &error)
{
    if (dynamic_cast<const std::bad_alloc *>(&error))
        return loc("The route is too large to open.", "GPS_OPEN_ROUTE_TOO_LARGE");
    return QString::fromUtf8(error.what());
}

void reportFileFailure(const QUrl &url, const std::exception &error)
{
    showFailure(loc("Unable to open the file ", "GPS_OPEN_FILE_ERROR_TITLE") + url.fileName(),
                failureText(error));
}

// Hands the route to the engine on the main thread; a file becomes a recent
// document once the engine has it.
void load(const EngineRef &engine, std::vector<Location> locations, const std::optional<QUrl> &url)
{
    DispatchQueue::main()->async([engine, locations = std::move(locations), url]() mutable {
        const auto live = engine.lock();
        if (!live)
            return;
        live->useWithLocations(std::move(locations));
        if (url)
            DispatchQueue::userInitiated()->async(
                [url] { Workspace::shared()->noteRecentDocument(*url); });
    });
}

bool contains(const std::vector<GPXParser::ParseResults> &missing, GPXParser::ParseResults field)
{
    return std::find(missing.begin(), missing.end(), field) != missing.end();
}

// On the main thread, between reading and filling.
void completeTrack(const EngineRef &engine, GPXParser::Result result, const QUrl &url)
{
    std::optional<DrawMode> mode;
    if (contains(result.missing, GPXParser::ParseResults::speed) &&
        contains(result.missing, GPXParser::ParseResults::timestamp)) {
        Workspace::shared()->activateIgnoringOtherApps();
        mode = RouteOpener::missingDataChoice(
            AlertPresenter::shared()->run(RouteOpener::missingDataAlert()));
        if (!mode)
            return;
    }
    DispatchQueue::userInitiated()->async([engine, result = std::move(result), url, mode] {
        try {
            load(engine, fillTrack(result.locations, result.missing, mode), url);
        } catch (const std::bad_alloc &error) {
            reportFileFailure(url, error);
        }
    });
}

void readGPX(const EngineRef &engine, const QUrl &url)
{
    GPXParser::Result result;
    try {
        GPXParser parser(url);
        result = parser.parse();
        if (result.locations.size() < 2)
            throw GPXParser::Error(GPXParser::ParserError::noLocationsError);
    } catch (const std::exception &error) {
        reportFileFailure(url, error);
        return;
    }
    DispatchQueue::main()->async([engine, result = std::move(result), url]() mutable {
        completeTrack(engine, std::move(result), url);
    });
}

std::optional<std::vector<Location>> readCSV(CSVParser &&parser, const QUrl &url)
{
    try {
        std::vector<Location> locations = parser.parse();
        if (locations.empty())
            throw CSVParser::Error(CSVParser::ParserError::noLocationsError);
        return locations;
    } catch (const std::exception &error) {
        if (url.isEmpty())
            showFailure(loc("Unable to open the asset", "GPS_OPEN_ASSET_ERROR_TITLE"),
                        failureText(error));
        else
            reportFileFailure(url, error);
        return std::nullopt;
    }
}

} // namespace

RouteOpener::RouteOpener(std::shared_ptr<LocationSimulator> engine)
    : m_engine(engine ? std::move(engine) : LocationSimulator::shared())
{
}

OpenPanelSpec RouteOpener::openPanelSpec()
{
    OpenPanelSpec spec;
    spec.title = loc("Select GPX", "GPS_OPEN_PANEL_TITLE");
    spec.prompt = loc("Select GPX", "GPS_OPEN_PANEL_PROMPT");
    spec.identifier = QStringLiteral("SelectGPX");
    spec.allowedTypes = {QStringLiteral("gpx"), QStringLiteral("csv")};
    spec.canChooseFiles = true;
    spec.canChooseDirectories = false;
    spec.canCreateDirectories = false;
    spec.allowsMultipleSelection = false;
    spec.showsHiddenFiles = false;
    return spec;
}

void RouteOpener::runOpenPanel()
{
    Workspace::shared()->activateIgnoringOtherApps();
    const QStringList paths = OpenPanel::shared()->runModal(openPanelSpec());
    if (!paths.isEmpty())
        openRoute(QUrl::fromLocalFile(paths.first()));
}

void RouteOpener::openRoute(const QUrl &url)
{
    const QString extension = QFileInfo(url.path()).suffix().toLower();
    const EngineRef engine = m_engine;
    if (extension == QLatin1String("gpx")) {
        DispatchQueue::userInitiated()->async([engine, url] { readGPX(engine, url); });
    } else if (extension == QLatin1String("csv")) {
        DispatchQueue::userInitiated()->async([engine, url] {
            std::optional<CSVParser> parser;
            try {
                parser.emplace(url);
            } catch (const std::exception &error) {
                reportFileFailure(url, error);
                return;
            }
            if (auto locations = readCSV(std::move(*parser), url))
                load(engine, std::move(*locations), url);
        });
    }
}

void RouteOpener::openSample(const QString &name)
{
    QFile asset(QStringLiteral(":/routes/%1.csv").arg(name));
    if (!asset.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = asset.readAll();
    const EngineRef engine = m_engine;
    DispatchQueue::userInitiated()->async([engine, data] {
        if (auto locations = readCSV(CSVParser(data), QUrl()))
            load(engine, std::move(*locations), std::nullopt);
    });
}

AlertSpec RouteOpener::missingDataAlert()
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.cautionIcon = true;
    spec.messageText = loc("GPX Missing Data", "GPS_MISSING_DATA_ALERT_TITLE");
    spec.informativeText =
        loc("The GPX data is missing both speed and timestamp data. What should Corvane assume "
            "in order to fill in the missing data for you?",
            "GPS_MISSING_DATA_ALERT_MESSAGE");
    for (DrawMode mode : allDrawModes())
        spec.buttons.push_back({drawModeTitle(mode)});
    spec.buttons.push_back({loc("Cancel", "GPS_MISSING_DATA_CANCEL_BUTTON")});
    return spec;
}

std::optional<DrawMode> RouteOpener::missingDataChoice(const AlertResponse &response)
{
    const auto modes = allDrawModes();
    if (response.buttonIndex < 0 || size_t(response.buttonIndex) >= modes.size())
        return std::nullopt;
    return modes[size_t(response.buttonIndex)];
}

} // namespace corvane
