#include "app/menus/values/TouchesMenu.h"

#include "app/menus/DeviceActionSupport.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "model/SimulatorTouches.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

namespace corvane {

namespace {

// One of the two indicators: its key in the Simulator's domain, what it
// shows when the domain cannot be opened, and how it is written.
struct Switch {
    const char *title;
    const char *comment;
    const char *action;
    const char *key;
    bool shownWhenUnopened;
    void (*write)(bool show);

    // The value shown now; its negation is what a toggle writes.
    bool isShown(const std::shared_ptr<UserDefaults> &defaults) const
    {
        return defaults ? defaults->boolean(QString::fromLatin1(key)) : shownWhenUnopened;
    }
};

const Switch kSwitches[] = {
    {"Single Taps", "SHOW_TAPS_DEVICE_ITEM_TITLE", "toggleShowTaps:", showSingleTouchesKey, false,
     setShowSingleTouches},
    // The Simulator shows pinches unless told otherwise.
    {"Pinches", "SHOW_PINCHES_DEVICE_ITEM_TITLE", "toggleShowPinches:", showPinchesKey, true,
     setShowPinches},
};
const Switch &kTaps = kSwitches[0];
const Switch &kPinches = kSwitches[1];

// Quits the running Simulator, writes the switch and starts the Simulator
// again, on the user-initiated queue; each step holds the flow, none the
// menu.
class RelaunchFlow : public std::enable_shared_from_this<RelaunchFlow> {
public:
    RelaunchFlow(const Switch &touchSwitch, std::weak_ptr<Toolset> toolset, SchedulerPtr scheduler,
                 std::function<std::shared_ptr<UserDefaults>()> simulatorDefaults)
        : m_switch(touchSwitch), m_toolset(std::move(toolset)), m_scheduler(std::move(scheduler)),
          m_simulatorDefaults(std::move(simulatorDefaults))
    {
    }

    void start()
    {
        std::optional<RunningApplication> simulator;
        if (const auto toolset = m_toolset.lock())
            simulator = toolset->simulatorApplication();
        if (!simulator) {
            after(TouchesMenu::writeDelay, &RelaunchFlow::write);
            return;
        }
        m_wasRunning = true;
        simulator->terminate();
        waitForQuit(*simulator, 0);
    }

private:
    void after(double seconds, void (RelaunchFlow::*step)())
    {
        m_scheduler->asyncAfter(DispatchQueue::userInitiated(), seconds,
                                [self = shared_from_this(), step] { ((*self).*step)(); });
    }

    void waitForQuit(const RunningApplication &simulator, double waited)
    {
        if (simulator.isTerminated()) {
            after(TouchesMenu::writeDelay, &RelaunchFlow::write);
            return;
        }
        if (waited >= TouchesMenu::quitTimeLimit) {
            Log::device().error("The Simulator did not quit within %{public}@ seconds; %{public}@ "
                                "was left unchanged",
                                QString::number(TouchesMenu::quitTimeLimit),
                                QString::fromLatin1(m_switch.key));
            return;
        }
        m_scheduler->asyncAfter(DispatchQueue::userInitiated(), TouchesMenu::pollInterval,
                                [self = shared_from_this(), simulator, waited] {
                                    self->waitForQuit(simulator,
                                                      waited + TouchesMenu::pollInterval);
                                });
    }

    void write()
    {
        m_switch.write(!m_switch.isShown(m_simulatorDefaults()));
        if (m_wasRunning)
            after(TouchesMenu::reopenDelay, &RelaunchFlow::reopen);
    }

    void reopen()
    {
        if (const auto toolset = m_toolset.lock())
            Workspace::shared()->openApplication(toolset->simulatorBundlePath());
    }

    const Switch &m_switch;
    const std::weak_ptr<Toolset> m_toolset;
    const SchedulerPtr m_scheduler;
    const std::function<std::shared_ptr<UserDefaults>()> m_simulatorDefaults;
    bool m_wasRunning = false;
};

} // namespace

std::shared_ptr<TouchesMenu> TouchesMenu::make(const std::shared_ptr<Device> &device,
                                               const std::shared_ptr<Toolset> &toolset,
                                               Environment environment)
{
    if (!device)
        return nullptr;
    std::shared_ptr<TouchesMenu> menu(new TouchesMenu(device, toolset, std::move(environment)));
    menu->setUp();
    return menu;
}

TouchesMenu::TouchesMenu(const std::shared_ptr<Device> &device,
                         const std::shared_ptr<Toolset> &toolset, Environment environment)
    : Menu(QStringLiteral("Show Touches")), m_device(device), m_toolset(toolset),
      m_environment(std::move(environment))
{
    if (!m_environment.activityMonitor)
        m_environment.activityMonitor = ActivityMonitor::shared();
    if (!m_environment.scheduler)
        m_environment.scheduler = Scheduler::system();
    if (!m_environment.simulatorDefaults)
        m_environment.simulatorDefaults = [] { return simulatorDefaults(); };
    addAction(kTaps.action, [this](const ObjectPtr &sender) { toggleShowTaps(sender); });
    addAction(kPinches.action, [this](const ObjectPtr &sender) { toggleShowPinches(sender); });
}

void TouchesMenu::setUp()
{
    setItems({showsTapsItem(), showsPinchesItem()});
}

MenuItemPtr TouchesMenu::showsTapsItem()
{
    return item(0);
}

MenuItemPtr TouchesMenu::showsPinchesItem()
{
    return item(1);
}

MenuItemPtr TouchesMenu::item(size_t indicator)
{
    return m_items.get(indicator, [&] {
        const Switch &touchSwitch = kSwitches[indicator];
        auto made = MenuItem::make(loc(touchSwitch.title, touchSwitch.comment),
                                   QString::fromLatin1(touchSwitch.action));
        made->setTarget(weakAs<TouchesMenu>());
        // Usable once the first refresh has found the device running.
        made->setEnabled(false);
        return made;
    });
}

void TouchesMenu::update()
{
    Menu::update();
    workQueue()->async([weak = weakAs<TouchesMenu>(), device = m_device,
                        monitor = m_environment.activityMonitor,
                        defaults = m_environment.simulatorDefaults, refreshes = m_refreshes] {
        if (weak.expired())
            return;
        const auto refresh = refreshes->begin();
        const auto domain = defaults();
        const bool taps = kTaps.isShown(domain);
        const bool pinches = kPinches.isShown(domain);
        const bool running = monitor->simulatorProcess(device->uuid()).has_value();
        DispatchQueue::main()->async([weak, refreshes, refresh, taps, pinches, running] {
            const auto menu = weak.lock();
            if (!menu)
                return;
            refreshes->applyIfNewest(refresh, [&] {
                const auto apply = [running](const MenuItemPtr &item, bool shown) {
                    item->setState(shown ? ControlState::On : ControlState::Off);
                    item->setEnabled(running);
                };
                apply(menu->showsTapsItem(), taps);
                apply(menu->showsPinchesItem(), pinches);
            });
        });
    });
}

void TouchesMenu::toggleShowTaps(const ObjectPtr &)
{
    toggle(0);
}

void TouchesMenu::toggleShowPinches(const ObjectPtr &)
{
    toggle(1);
}

void TouchesMenu::toggle(size_t indicator)
{
    DeviceActionSupport::activateIfNeeded();
    if (AlertPresenter::shared()->run(relaunchAlert()).buttonIndex != 0)
        return;
    auto flow = std::make_shared<RelaunchFlow>(
        kSwitches[indicator], m_toolset, m_environment.scheduler, m_environment.simulatorDefaults);
    DispatchQueue::userInitiated()->async([flow] { flow->start(); });
}

AlertSpec TouchesMenu::relaunchAlert()
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.cautionIcon = true;
    spec.messageText = QStringLiteral("Re-launch Required");
    spec.informativeText = QStringLiteral(
        "The simulator will need to be quit and relaunched for the setting to take effect.");
    // Return cancels: the confirming button has no key equivalent.
    spec.buttons = {{QStringLiteral("Apply & Relaunch"), AlertSpec::KeyEquivalent::None},
                    {QStringLiteral("Cancel"), AlertSpec::KeyEquivalent::Return}};
    return spec;
}

DispatchQueuePtr TouchesMenu::workQueue()
{
    static const DispatchQueuePtr queue =
        DispatchQueue::makeConcurrent(QStringLiteral("com.quendrith.corvane.devicemenu.touches"));
    return queue;
}

} // namespace corvane
