#include "EngineTestSupport.h"
#include "location/CoordinatePromptingAlert.h"
#include "location/GoToActions.h"
#include "location/LocationPreset.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/CurrentLocationProvider.h"
#include "platform/Log.h"
#include "platform/menus/MenuItem.h"
#include "platform/desktop/Workspace.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

using Authorization = CurrentLocationProvider::Authorization;

QGeoPositionInfo position(double latitude, double longitude, double altitude)
{
    QGeoPositionInfo info(QGeoCoordinate(latitude, longitude, altitude),
                          QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc()));
    info.setAttribute(QGeoPositionInfo::HorizontalAccuracy, 35);
    return info;
}

// The go-to actions on an engine with a fake sink, answering alerts, a
// recording workspace and a provider the test drives.
class GoToActionsTest : public test::EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        makeEngine();
        LocationSimulator::setShared(engine);
        AlertPresenter::setShared(alerts);
        Workspace::setShared(workspace);
        CurrentLocationProvider::setFactory([this] {
            ++providersMade;
            return provider;
        });
        GoToActions::resetCurrentLocationProvider();
        actions = GoToActions::make();
    }

    void TearDown() override
    {
        actions.reset();
        GoToActions::resetCurrentLocationProvider();
        CurrentLocationProvider::setFactory({});
        Workspace::setShared(nullptr);
        AlertPresenter::setShared(nullptr);
        LocationSimulator::setShared(nullptr);
        EngineTest::TearDown();
    }

    MenuItemPtr presetItem(const RepresentedObject &object)
    {
        auto item = MenuItem::make("Preset", GoToActions::gotoLocationPresetAction);
        item->setTarget(actions);
        item->setRepresentedObject(object);
        return item;
    }

    static AlertResponse answer(int button, const QString &text)
    {
        AlertResponse response;
        response.buttonIndex = button;
        response.text = text;
        return response;
    }

    std::shared_ptr<RecordingAlertPresenter> alerts = std::make_shared<RecordingAlertPresenter>();
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<ScriptedLocationProvider> provider =
        std::make_shared<ScriptedLocationProvider>();
    int providersMade = 0;
    std::shared_ptr<GoToActions> actions;
};

TEST_F(GoToActionsTest, APresetSendsExactlyItsCoordinateAndNothingElse)
{
    auto preset = LocationPreset::make("The Mothership");
    ASSERT_TRUE(presetItem(preset)->sendAction());

    ASSERT_EQ(engine->locations().size(), 1u);
    const Location &loaded = engine->locations().front();
    EXPECT_EQ(loaded.coordinate.latitude(), 37.33507030721554);
    EXPECT_EQ(loaded.coordinate.longitude(), -122.00915439213304);
    EXPECT_EQ(loaded.altitude, 0);
    EXPECT_EQ(loaded.speed, -1);
    EXPECT_EQ(loaded.course, -1);
    EXPECT_EQ(loaded.verticalAccuracy, -1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location.coordinate.latitude(), 37.33507030721554);
    EXPECT_EQ(sent[0].location.coordinate.longitude(), -122.00915439213304);
    EXPECT_EQ(sent[0].devices, QStringList({"UDID-A", "UDID-B"}));
}

TEST_F(GoToActionsTest, SendersThatAreNoPresetItemsDoNothing)
{
    EXPECT_TRUE(actions->perform(GoToActions::gotoLocationPresetAction, nullptr));
    EXPECT_TRUE(actions->perform(GoToActions::gotoLocationPresetAction,
                                 LocationPreset::make("Not an item")));
    presetItem(RepresentedObject())->sendAction();
    presetItem(QString("37.5, -122.25"))->sendAction();
    // A preset edited off the globe in its file has no place to send.
    auto offGlobe = LocationPreset::make("Off");
    offGlobe->setLatitude(91);
    presetItem(offGlobe)->sendAction();
    EXPECT_TRUE(engine->locations().empty());
    EXPECT_TRUE(sent.empty());
}

TEST_F(GoToActionsTest, OnlyGoWithAValidCoordinateLoadsIt)
{
    alerts->enqueue(answer(CoordinatePromptingAlert::cancelButton, "37.5, -122.25"));
    alerts->enqueue(answer(-1, "37.5, -122.25"));
    alerts->enqueue(answer(CoordinatePromptingAlert::goButton, "37.5"));
    for (int i = 0; i < 3; ++i)
        actions->gotoManualCoordinate();
    EXPECT_TRUE(engine->locations().empty());

    alerts->enqueue(answer(CoordinatePromptingAlert::goButton, " north, 37.5 , -122.25"));
    ASSERT_TRUE(actions->perform(GoToActions::gotoManualCoordinateAction, nullptr));
    ASSERT_EQ(engine->locations().size(), 1u);
    EXPECT_EQ(engine->locations()[0].coordinate.latitude(), 37.5);
    EXPECT_EQ(engine->locations()[0].coordinate.longitude(), -122.25);
    EXPECT_EQ(engine->locations()[0].speed, -1);

    ASSERT_EQ(alerts->presented.size(), 4u);
    EXPECT_EQ(alerts->presented[0].messageText, "Enter Coordinate");
    // Not the active application here, so each prompt brings it forward first.
    EXPECT_EQ(workspace->requests.size(), 4u);
    EXPECT_EQ(workspace->requests[0].operation, "activate");
}

TEST_F(GoToActionsTest, ThePromptEnablesGoOnlyForAValidCoordinate)
{
    const AlertSpec spec = CoordinatePromptingAlert::spec();
    EXPECT_EQ(spec.messageText, "Enter Coordinate");
    ASSERT_EQ(spec.buttons.size(), 2u);
    EXPECT_EQ(spec.buttons[0].title, "Go");
    EXPECT_FALSE(spec.buttons[0].enabled);
    EXPECT_EQ(spec.buttons[1].title, "Cancel");
    EXPECT_TRUE(spec.buttons[1].enabled);
    ASSERT_TRUE(spec.accessory && spec.accessory->validator);
    EXPECT_EQ(spec.accessory->placeholder, "37.3350703, -122.0091543");
    EXPECT_EQ(spec.accessory->size, QSize(200, 24));
    EXPECT_FALSE(spec.accessory->multiline);
    const auto &valid = spec.accessory->validator;
    EXPECT_TRUE(valid("37.5, -122.25"));
    EXPECT_TRUE(valid("0, 5"));
    for (const char *text : {"37.5", "0, 0", "", "1, 2, 3", "10, 181"})
        EXPECT_FALSE(valid(text)) << text;
}

TEST_F(GoToActionsTest, DisabledServicesOrADeniedAuthorizationAreReportedAndNothingIsAsked)
{
    provider->servicesEnabled = false;
    actions->gotoCurrentLocation();
    provider->servicesEnabled = true;
    provider->status = Authorization::denied;
    actions->perform(GoToActions::gotoCurrentLocationAction, nullptr);

    ASSERT_EQ(alerts->presented.size(), 2u);
    EXPECT_EQ(alerts->presented[0].style, AlertSpec::Style::Critical);
    EXPECT_EQ(alerts->presented[0].messageText, "Location Disabled");
    EXPECT_EQ(alerts->presented[0].informativeText,
              "Location services are not enabled on this device.");
    EXPECT_TRUE(alerts->presented[0].buttons.empty());
    EXPECT_EQ(alerts->presented[1].style, AlertSpec::Style::Critical);
    EXPECT_EQ(alerts->presented[1].messageText, "Permissions Error");
    EXPECT_EQ(alerts->presented[1].informativeText,
              "Corvane has been denied access to your location. Please fix the permissions in "
              "the Settings app.");
    EXPECT_EQ(provider->authorizationRequests, 0);
    EXPECT_EQ(provider->locationRequests, 0);
    EXPECT_EQ(providersMade, 1);
}

TEST_F(GoToActionsTest, AFirstRequestOnlyAsksForPermissionThenThePositionFollowsTheGrant)
{
    provider->status = Authorization::notDetermined;
    actions->gotoCurrentLocation();
    EXPECT_EQ(provider->authorizationRequests, 1);
    EXPECT_EQ(provider->locationRequests, 0);

    // The window that asked is gone before the answers come: they still reach
    // the engine.
    actions.reset();
    provider->answerAuthorization(Authorization::denied);
    EXPECT_EQ(provider->locationRequests, 0);
    provider->answerAuthorization(Authorization::usable);
    EXPECT_EQ(provider->locationRequests, 1);

    provider->deliver({position(48.8584, 2.2945, 35), position(48.8606, 2.3376, 40)});
    ASSERT_EQ(engine->locations().size(), 2u);
    EXPECT_EQ(engine->locations()[0].coordinate.latitude(), 48.8584);
    EXPECT_EQ(engine->locations()[0].altitude, 35);
    EXPECT_EQ(engine->locations()[0].horizontalAccuracy, 35);
    EXPECT_EQ(engine->locations()[1].coordinate.longitude(), 2.3376);
    EXPECT_EQ(provider->stopRequests, 1);

    // Later requests reuse the one provider and go straight to the position.
    GoToActions::make()->gotoCurrentLocation();
    EXPECT_EQ(provider->locationRequests, 2);
    EXPECT_EQ(provider->authorizationRequests, 1);
    EXPECT_EQ(providersMade, 1);
}

TEST_F(GoToActionsTest, AFailedPositionIsLoggedAndShown)
{
    actions->gotoCurrentLocation();
    EXPECT_EQ(provider->locationRequests, 1);
    Log::Capture log;
    provider->fail("No position arrived in time.");
    int logged = 0;
    for (const LogEntry &entry : log.entries()) {
        if (entry.message == "Couldn't fetch current location: No position arrived in time.") {
            ++logged;
            EXPECT_EQ(entry.level, LogLevel::Error);
            EXPECT_EQ(entry.category, "location");
        }
    }
    EXPECT_EQ(logged, 1);
    DispatchQueue::drainMain();
    ASSERT_EQ(alerts->presented.size(), 1u);
    EXPECT_EQ(alerts->presented[0].messageText, "Location Unavailable");
    EXPECT_EQ(alerts->presented[0].informativeText, "No position arrived in time.");
    EXPECT_TRUE(engine->locations().empty());

    // A fix without a place is no location.
    provider->deliver({QGeoPositionInfo()});
    EXPECT_TRUE(engine->locations().empty());
}

} // namespace
