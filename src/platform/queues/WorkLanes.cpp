#include "platform/queues/WorkLanes.h"

namespace corvane {

WorkLanes::WorkLanes(DispatchQueuePtr queue, int width) : m_queue(std::move(queue)), m_width(width)
{
}

void WorkLanes::async(std::function<void()> work)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(work));
        if (m_running >= m_width)
            return;
        ++m_running;
    }
    m_queue->async([this] { drain(); });
}

void WorkLanes::drain()
{
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                --m_running;
                return;
            }
            work = std::move(m_pending.front());
            m_pending.pop_front();
        }
        work();
    }
}

} // namespace corvane
