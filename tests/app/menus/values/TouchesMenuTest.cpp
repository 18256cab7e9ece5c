#include "app/DeviceSubmenuTestSupport.h"
#include "app/menus/values/TouchesMenu.h"
#include "model/SimulatorTouches.h"
#include "platform/Log.h"
#include "platform/defaults/UserDefaults.h"

using namespace corvane;
using namespace corvane::test;

namespace {

const AlertResponse kApply{0, false, {}};
const AlertResponse kCancel{1, false, {}};

class TouchesMenuTest : public DeviceSubmenuTest {
protected:
    void SetUp() override
    {
        DeviceSubmenuTest::SetUp();
        bundle = toolset->simulatorBundlePath();
    }

    std::shared_ptr<TouchesMenu> menu(bool domainOpens = true)
    {
        TouchesMenu::Environment environment;
        environment.activityMonitor = monitor;
        environment.scheduler = scheduler;
        environment.simulatorDefaults = [domainOpens]() -> std::shared_ptr<UserDefaults> {
            if (!domainOpens)
                return nullptr;
            return UserDefaults::suite(simulatorDomain);
        };
        return offMain([&] { return TouchesMenu::make(device(phone), toolset, environment); });
    }

    // Stores the switches the way the Simulator's defaults tool does.
    void storeDomain(const QStringList &keyValues)
    {
        for (qsizetype i = 0; i + 1 < keyValues.size(); i += 2)
            fixture::FixtureTree::run(tree.toolPath("defaults"),
                                      {"write", simulatorDomain, keyValues[i], keyValues[i + 1]});
        tree.clearLog();
    }

    // Updates the menu and waits until its refresh has been applied.
    void refresh(TouchesMenu &touches, bool taps, bool pinches, bool enabled)
    {
        touches.update();
        const auto state = [](bool on) { return on ? ControlState::On : ControlState::Off; };
        ASSERT_TRUE(waitUntil([&] {
            const auto tapsItem = touches.showsTapsItem();
            const auto pinchesItem = touches.showsPinchesItem();
            return tapsItem->state() == state(taps) && pinchesItem->state() == state(pinches) &&
                   tapsItem->isEnabled() == enabled && pinchesItem->isEnabled() == enabled;
        }));
    }

    // Starts the demo's Simulator of the tree's Xcode.
    void startSimulator()
    {
        tree.startSimulatorApp(xcode);
        ASSERT_TRUE(waitUntil([&] { return toolset->simulatorApplication().has_value(); }));
    }

    // Confirms the toggle and waits until the flow has taken its first step.
    void toggleConfirmed(TouchesMenu &touches, bool taps)
    {
        const size_t pending = scheduler->pendingCount();
        alerts->enqueue(kApply);
        if (taps)
            touches.toggleShowTaps(nullptr);
        else
            touches.toggleShowPinches(nullptr);
        ASSERT_TRUE(waitUntil([&] { return scheduler->pendingCount() > pending; }));
    }

    // The defaults writes so far, each with the time it was first seen.
    QStringList advanceNoting(double seconds)
    {
        QStringList seen;
        for (double step = 0; step < seconds; step += 0.5) {
            EXPECT_TRUE(scheduler->advance(0.5));
            EXPECT_TRUE(waitForBackgroundWork());
            const QStringList writes = toolCalls("defaults");
            for (qsizetype i = seen.size(); i < writes.size(); ++i)
                seen << QString::number(scheduler->now(), 'f', 1) + " " + writes[i];
        }
        return seen;
    }

    QString bundle;
};

} // namespace

TEST_F(TouchesMenuTest, ItemsFollowTheDomainAndTheDevicesRunningState)
{
    const auto touches = menu();
    EXPECT_EQ(itemTitles(*touches), QStringList({"Single Taps", "Pinches"}));

    // No "ShowPinches": pinches off. Shut down: both disabled.
    storeDomain({showSingleTouchesKey, "1"});
    refresh(*touches, true, false, false);
    setRunning({phone});
    refresh(*touches, true, false, true);
    storeDomain({showSingleTouchesKey, "0", showPinchesKey, "1"});
    refresh(*touches, false, true, true);
    setRunning({});
    refresh(*touches, false, true, false);

    // A domain that cannot be opened: taps off, pinches on.
    refresh(*menu(false), false, true, false);
}

TEST_F(TouchesMenuTest, ANotRunningSimulatorGetsTheWriteAfterASecondAndIsNotStarted)
{
    storeDomain({showSingleTouchesKey, "0"});
    const auto touches = menu();
    toggleConfirmed(*touches, true);
    ASSERT_EQ(alerts->presented.size(), 1u);

    EXPECT_EQ(advanceNoting(5.0),
              QStringList{"1.0 write com.apple.iphonesimulator ShowSingleTouches 1"});
    EXPECT_EQ(scheduler->pendingCount(), 0u);
    EXPECT_EQ(simulator->events(), QStringList{"0.0 activate"});
}

TEST_F(TouchesMenuTest, ARunningSimulatorIsQuitWrittenForAndStartedASecondApart)
{
    startSimulator();
    const QString executable = toolset->simulatorApplication()->executablePath();
    const auto touches = menu();
    toggleConfirmed(*touches, false);

    // Looks at 0, 0.5 and 1.0: it has quit by the third.
    const QStringList writes = advanceNoting(4.0);
    EXPECT_EQ(writes, QStringList{"2.0 write com.apple.iphonesimulator ShowPinches 1"});
    EXPECT_EQ(simulator->events(), QStringList({"0.0 activate", "0.0 terminate " + executable,
                                                "1.0 quit", "3.0 open " + bundle}));
    EXPECT_TRUE(bundle.endsWith("/Contents/Developer/Applications/Simulator.app"));
}

TEST_F(TouchesMenuTest, ASimulatorThatDoesNotQuitIsGivenUpAfterFifteenSeconds)
{
    startSimulator();
    simulator->ignoresTerminate = true;
    Log::Capture log;
    const auto touches = menu();
    toggleConfirmed(*touches, true);

    ASSERT_TRUE(scheduler->advance(14.5));
    EXPECT_GT(scheduler->pendingCount(), 0u);
    EXPECT_TRUE(advanceNoting(10.0).isEmpty());
    EXPECT_EQ(scheduler->pendingCount(), 0u);
    EXPECT_EQ(simulator->events().filter(" open ").size(), 0);
    EXPECT_TRUE(log.contains("did not quit within 15 seconds"));
}

TEST_F(TouchesMenuTest, CancelOrReturnChangesNothing)
{
    startSimulator();
    const auto touches = menu();
    alerts->enqueue(kCancel);
    touches->toggleShowTaps(nullptr);
    // Closed without a button.
    touches->toggleShowPinches(nullptr);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(scheduler->pendingCount(), 0u);
    EXPECT_EQ(simulator->events(), QStringList({"0.0 activate", "0.0 activate"}));
    EXPECT_TRUE(toolCalls("defaults").isEmpty());

    // Return answers "Cancel".
    ASSERT_EQ(alerts->presented.size(), 2u);
    const AlertSpec &alert = alerts->presented[0];
    EXPECT_EQ(alert.messageText, "Re-launch Required");
    EXPECT_EQ(alert.informativeText, "The simulator will need to be quit and relaunched for the "
                                     "setting to take effect.");
    ASSERT_EQ(alert.buttons.size(), 2u);
    EXPECT_EQ(alert.buttons[0].keyEquivalent, AlertSpec::KeyEquivalent::None);
    EXPECT_EQ(alert.buttons[1].keyEquivalent, AlertSpec::KeyEquivalent::Return);
}

TEST_F(TouchesMenuTest, TogglesWriteTheNegationOfWhatIsShown)
{
    // No "ShowPinches" key reads as off: the toggle writes "1".
    storeDomain({showSingleTouchesKey, "1"});
    const auto touches = menu();
    toggleConfirmed(*touches, false);
    toggleConfirmed(*touches, true);
    advanceNoting(1.0);
    EXPECT_EQ(toolCalls("defaults"),
              QStringList({"write com.apple.iphonesimulator ShowPinches 1",
                           "write com.apple.iphonesimulator ShowSingleTouches 0"}));

    // A domain that cannot be opened shows taps off and pinches on.
    tree.clearLog();
    const auto unopened = menu(false);
    toggleConfirmed(*unopened, true);
    toggleConfirmed(*unopened, false);
    advanceNoting(1.0);
    EXPECT_EQ(toolCalls("defaults"),
              QStringList({"write com.apple.iphonesimulator ShowSingleTouches 1",
                           "write com.apple.iphonesimulator ShowPinches 0"}));
}
