#pragma once

#include "app/menus/CommandManager.h"
#include "core/Debounce.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "platform/BuildGenerations.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/Menu.h"
#include "platform/queues/Scheduler.h"
#include "platform/queues/WorkLanes.h"

#include <QString>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class Toolset;

// What a value menu works with; empty fields get the program's own.
struct ValueMenuEnvironment {
    std::shared_ptr<ActivityMonitor> activityMonitor;
    std::shared_ptr<CommandManager> commandManager;
    SchedulerPtr scheduler;
};

// A device's submenu for one user-interface setting: an item per value, a
// check mark on the device's current value, and the chosen value sent to the
// device. The current value is read with simctl on the kind's own queue half a
// second after the last opening, and once after construction for a running
// device; neither the thread that makes the menu nor the main thread waits
// for simctl. The selection and the marks change on the main thread only, and
// a reading older than the newest reading or choice is dropped.
//
// `Traits` gives what differs between the kinds: Value, title, queueLabel,
// debounceKeyPrefix, values(), itemTitle(value), read(device) (the fallback
// when simctl cannot tell) and write(device, value, commands).
template <class Traits> class ValueMenu : public Menu {
public:
    using Value = typename Traits::Value;
    using Environment = ValueMenuEnvironment;
    static constexpr double refreshDelay = 0.5;
    // At most this many construction readings of a kind run at once: a root
    // menu of many running devices must not hold every worker in simctl.
    static constexpr int constructionReadings = 4;

    static std::shared_ptr<ValueMenu> make(const std::shared_ptr<Device> &device,
                                           const std::shared_ptr<Toolset> &toolset,
                                           Environment environment = {})
    {
        if (!device)
            return nullptr;
        std::shared_ptr<ValueMenu> menu(new ValueMenu(device, toolset, std::move(environment)));
        menu->setUp();
        return menu;
    }

    std::shared_ptr<Device> device() const { return m_device; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }
    // The value last read or chosen; read it on the main thread.
    std::optional<Value> currentSelection() const { return m_currentSelection; }
    MenuItemPtr itemForValue(Value value) const
    {
        const auto &values = Traits::values();
        const auto at = std::find(values.begin(), values.end(), value);
        return at == values.end() ? nullptr : m_items[size_t(at - values.begin())];
    }
    QString debounceKey() const { return QString(Traits::debounceKeyPrefix) + m_device->udid(); }

    // Shows the last known value at once and reads the device's afresh.
    void willOpen() override
    {
        showSelection();
        scheduleRefresh();
    }

    // The chosen item's value: checked at once, then sent to the device on
    // the user-initiated queue, also when it is the value shown.
    void change(const ObjectPtr &sender)
    {
        const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
        if (!item)
            return;
        const auto value = item->representedObject().template as<Value>();
        if (!value)
            return;
        select(m_readings->begin(), *value);
        DispatchQueue::userInitiated()->async(
            [device = m_device, value = *value, commands = m_environment.commandManager] {
                Traits::write(device, value, *commands);
            });
    }

    // The kind's concurrent queue, shared by all its menus.
    static DispatchQueuePtr workQueue()
    {
        static const DispatchQueuePtr queue = DispatchQueue::makeConcurrent(Traits::queueLabel);
        return queue;
    }

private:
    static WorkLanes &constructionLanes()
    {
        static auto *lanes = new WorkLanes(workQueue(), constructionReadings);
        return *lanes;
    }

    ValueMenu(const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
              Environment environment)
        : Menu(QString::fromUtf8(Traits::title)), m_device(device), m_toolset(toolset),
          m_environment(std::move(environment))
    {
        if (!m_environment.activityMonitor)
            m_environment.activityMonitor = ActivityMonitor::shared();
        if (!m_environment.commandManager)
            m_environment.commandManager = CommandManager::shared();
        if (!m_environment.scheduler)
            m_environment.scheduler = Scheduler::system();
        addAction("change:", [this](const ObjectPtr &sender) { change(sender); });
    }

    void setUp()
    {
        for (const Value value : Traits::values()) {
            auto item = MenuItem::make(Traits::itemTitle(value), "change:");
            item->setTarget(this->template weakAs<ValueMenu>());
            item->setRepresentedObject(value);
            m_items.push_back(std::move(item));
        }
        setItems(m_items);
        if (simulatorRuns())
            constructionLanes().async(readingTask());
    }

    // Off the main thread the monitor may list the processes; on it, only its
    // last snapshot is read.
    bool simulatorRuns() const
    {
        auto &monitor = *m_environment.activityMonitor;
        if (DispatchQueue::isMainThread())
            return monitor.latestSnapshot()->simulatorProcess(m_device->uuid()).has_value();
        return monitor.simulatorProcess(m_device->uuid()).has_value();
    }

    void scheduleRefresh()
    {
        debounce(*m_environment.scheduler, workQueue(), refreshDelay, debounceKey(), readingTask());
    }

    // Reads on the calling (work) thread and selects the value on main; holds
    // the menu weakly, so a menu dropped meanwhile is neither kept nor read
    // for.
    std::function<void()> readingTask()
    {
        return
            [weak = this->template weakAs<ValueMenu>(), device = m_device, readings = m_readings] {
                if (weak.expired())
                    return;
                const auto reading = readings->begin();
                const Value value = Traits::read(*device);
                DispatchQueue::main()->async([weak, reading, value] {
                    if (auto menu = weak.lock())
                        menu->select(reading, value);
                });
            };
    }

    // On the main thread.
    void select(BuildGenerations::Number reading, Value value)
    {
        m_readings->applyIfNewest(reading, [&] {
            if (m_currentSelection == value)
                return;
            m_currentSelection = value;
            showSelection();
        });
    }

    void showSelection()
    {
        const auto &values = Traits::values();
        for (size_t i = 0; i < m_items.size(); ++i)
            m_items[i]->setState(m_currentSelection == values[i] ? ControlState::On
                                                                 : ControlState::Off);
    }

    const std::shared_ptr<Device> m_device;
    const std::weak_ptr<Toolset> m_toolset;
    Environment m_environment;
    // One per value, in the values' order.
    std::vector<MenuItemPtr> m_items;
    std::optional<Value> m_currentSelection;
    const std::shared_ptr<BuildGenerations> m_readings = std::make_shared<BuildGenerations>();
};

} // namespace corvane
