#include "platform/queues/Scheduler.h"

#include <chrono>

namespace corvane {

namespace {

class SystemScheduler : public Scheduler {
public:
    using Scheduler::asyncAfter;

    void asyncAfter(const DispatchQueuePtr &queue, double seconds, WorkItemPtr item) override
    {
        const auto delay =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        queue->asyncAfter(Clock::now() + delay, std::move(item));
    }
};

} // namespace

void Scheduler::asyncAfter(const DispatchQueuePtr &queue, double seconds,
                           std::function<void()> work)
{
    asyncAfter(queue, seconds, std::make_shared<WorkItem>(std::move(work)));
}

std::shared_ptr<Scheduler> Scheduler::system()
{
    static const auto scheduler = std::make_shared<SystemScheduler>();
    return scheduler;
}

} // namespace corvane
