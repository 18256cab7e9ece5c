#pragma once

#include "platform/queues/DispatchQueue.h"

#include <deque>
#include <functional>
#include <mutex>

namespace corvane {

// Runs work on a concurrent queue, at most `width` items at a time, in the
// order given: a burst of slow tool calls then occupies a few workers of the
// shared pool, never all of them.
class WorkLanes {
public:
    WorkLanes(DispatchQueuePtr queue, int width);

    void async(std::function<void()> work);

private:
    void drain();

    const DispatchQueuePtr m_queue;
    const int m_width;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_pending;
    int m_running = 0;
};

} // namespace corvane
