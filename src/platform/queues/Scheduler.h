#pragma once

#include "platform/queues/DispatchQueue.h"

#include <functional>
#include <memory>

namespace corvane {

// Times delayed work: the dispatch queues' own clock in the program, a clock
// that moves only when told in tests, so that half-second debounces and
// relaunch waits can be checked step by step.
class Scheduler {
public:
    virtual ~Scheduler() = default;

    // Hands the item to the queue once `seconds` have passed; an item
    // cancelled by then does nothing.
    virtual void asyncAfter(const DispatchQueuePtr &queue, double seconds, WorkItemPtr item) = 0;
    void asyncAfter(const DispatchQueuePtr &queue, double seconds, std::function<void()> work);

    // The dispatch queues' steady clock.
    static std::shared_ptr<Scheduler> system();
};

using SchedulerPtr = std::shared_ptr<Scheduler>;

} // namespace corvane
