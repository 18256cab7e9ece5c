#include "location/GoToActions.h"

#include "core/Location.h"
#include "location/CoordinatePromptingAlert.h"
#include "location/LocationPreset.h"
#include "location/LocationSimulator.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/menus/MenuItem.h"
#include "platform/desktop/Workspace.h"

#include <QDateTime>
#include <QGuiApplication>

namespace corvane {

namespace {

std::shared_ptr<CurrentLocationProvider> g_provider;

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void useCoordinate(double latitude, double longitude)
{
    LocationSimulator::shared()->useWithLocations(
        {Location::coordinateOnly(latitude, longitude, now())});
}

void showCriticalAlert(const QString &message, const QString &information)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Critical;
    spec.messageText = message;
    spec.informativeText = information;
    AlertPresenter::shared()->run(spec);
}

bool applicationIsActive()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void authorizationDidChange(const std::weak_ptr<CurrentLocationProvider> &weak)
{
    auto provider = weak.lock();
    if (!provider)
        return;
    const auto status = provider->authorization();
    // The answer to the first request leads straight to the position.
    if (status != CurrentLocationProvider::Authorization::denied &&
        status != CurrentLocationProvider::Authorization::notDetermined)
        provider->requestLocation();
}

void didUpdateLocations(const std::weak_ptr<CurrentLocationProvider> &weak,
                        const std::vector<QGeoPositionInfo> &positions)
{
    std::vector<Location> locations;
    for (const QGeoPositionInfo &position : positions) {
        // A fix without a place would reach the simulators as NaN.
        if (position.coordinate().isValid())
            locations.push_back(Location::fromPositionInfo(position));
    }
    if (!locations.empty())
        LocationSimulator::shared()->useWithLocations(std::move(locations));
    if (auto provider = weak.lock())
        provider->stopUpdatingLocation();
}

} // namespace

std::shared_ptr<GoToActions> GoToActions::make()
{
    return std::shared_ptr<GoToActions>(new GoToActions);
}

GoToActions::GoToActions()
{
    addAction(gotoLocationPresetAction,
              [this](const ObjectPtr &sender) { gotoLocationPreset(sender); });
    addAction(gotoManualCoordinateAction, [this](const ObjectPtr &) { gotoManualCoordinate(); });
    addAction(gotoCurrentLocationAction, [this](const ObjectPtr &) { gotoCurrentLocation(); });
}

void GoToActions::gotoLocationPreset(const ObjectPtr &sender)
{
    auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    if (!item)
        return;
    auto preset = item->representedObject().as<LocationPreset>();
    // A preset edited off the globe in its file would send no real place.
    if (!preset || !preset->coordinate().isValid())
        return;
    useCoordinate(preset->latitude(), preset->longitude());
}

void GoToActions::gotoManualCoordinate()
{
    if (!applicationIsActive())
        Workspace::shared()->activateIgnoringOtherApps();
    const AlertResponse response = AlertPresenter::shared()->run(CoordinatePromptingAlert::spec());
    if (const auto coordinate = CoordinatePromptingAlert::coordinate(response))
        useCoordinate(coordinate->latitude(), coordinate->longitude());
}

void GoToActions::gotoCurrentLocation()
{
    auto provider = currentLocationProvider();
    if (!provider->locationServicesEnabled()) {
        showCriticalAlert(QStringLiteral("Location Disabled"),
                          QStringLiteral("Location services are not enabled on this device."));
        return;
    }
    const auto status = provider->authorization();
    if (status == CurrentLocationProvider::Authorization::denied) {
        showCriticalAlert(QStringLiteral("Permissions Error"),
                          QStringLiteral("Corvane has been denied access to your location. Please "
                                         "fix the permissions in the Settings app."));
        return;
    }
    if (status == CurrentLocationProvider::Authorization::notDetermined)
        provider->requestAuthorization();
    else
        provider->requestLocation();
}

std::shared_ptr<CurrentLocationProvider> GoToActions::currentLocationProvider()
{
    if (g_provider)
        return g_provider;
    g_provider = CurrentLocationProvider::make();
    // The position source is a Qt object: it goes with the application, not
    // with the process's statics.
    if (auto *application = QCoreApplication::instance())
        QObject::connect(application, &QCoreApplication::aboutToQuit, application,
                         [] { g_provider.reset(); });
    std::weak_ptr<CurrentLocationProvider> weak = g_provider;
    g_provider->setCallbacks(
        {[weak] { authorizationDidChange(weak); },
         [weak](const std::vector<QGeoPositionInfo> &positions) {
             didUpdateLocations(weak, positions);
         },
         [](const QString &description) {
             Log::location().error("Couldn't fetch current location: %{PUBLIC}@", description);
             // Shown once the position source's signal has returned, as the
             // alert is modal.
             DispatchQueue::main()->async([description] {
                 showCriticalAlert(QStringLiteral("Location Unavailable"), description);
             });
         }});
    return g_provider;
}

void GoToActions::resetCurrentLocationProvider()
{
    g_provider.reset();
}

} // namespace corvane
