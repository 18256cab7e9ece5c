#pragma once

#include "platform/desktop/AlertPresenter.h"
#include "platform/BuildGenerations.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/menus/Menu.h"
#include "platform/queues/Scheduler.h"

#include <functional>
#include <memory>

namespace corvane {

class ActivityMonitor;
class Device;
class Toolset;
class UserDefaults;

// A device's submenu for the Simulator application's touch indicators
// (single taps and pinches). They are the Simulator's own settings, read only
// when it starts, so a change is confirmed, the running Simulator is quit,
// the setting written, and the Simulator started again. The items are usable
// only while the device runs; their states and enabling are looked up on the
// menu's queue each time the menu is updated and applied on the main thread.
class TouchesMenu : public Menu {
public:
    // What the menu works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<ActivityMonitor> activityMonitor;
        SchedulerPtr scheduler;
        // The Simulator's preferences, or nothing when they cannot be opened.
        std::function<std::shared_ptr<UserDefaults>()> simulatorDefaults;
    };

    // The relaunch: a look every half second until the Simulator has quit,
    // the write a second later, the start a second after that. A Simulator
    // that has not quit after the time limit is left alone, and nothing is
    // written.
    static constexpr double pollInterval = 0.5;
    static constexpr double writeDelay = 1.0;
    static constexpr double reopenDelay = 1.0;
    static constexpr double quitTimeLimit = 15.0;

    static std::shared_ptr<TouchesMenu> make(const std::shared_ptr<Device> &device,
                                             const std::shared_ptr<Toolset> &toolset,
                                             Environment environment = {});

    std::shared_ptr<Device> device() const { return m_device; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }

    MenuItemPtr showsTapsItem();
    MenuItemPtr showsPinchesItem();

    // Looks the states up on the menu's queue; they follow on main.
    void update() override;

    // On the main thread: asks for the relaunch, then relaunches on the
    // user-initiated queue. Nothing is recorded.
    void toggleShowTaps(const ObjectPtr &sender);
    void toggleShowPinches(const ObjectPtr &sender);

    static AlertSpec relaunchAlert();
    // The concurrent queue the refreshes of every touches menu share.
    static DispatchQueuePtr workQueue();

private:
    TouchesMenu(const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
                Environment environment);
    void setUp();
    // 0: single taps, 1: pinches.
    MenuItemPtr item(size_t indicator);
    void toggle(size_t indicator);

    const std::shared_ptr<Device> m_device;
    const std::weak_ptr<Toolset> m_toolset;
    Environment m_environment;
    LazyMenuItems m_items{2};
    const std::shared_ptr<BuildGenerations> m_refreshes = std::make_shared<BuildGenerations>();
};

} // namespace corvane
