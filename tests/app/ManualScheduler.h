#pragma once

#include "platform/queues/DispatchQueue.h"
#include "platform/queues/Scheduler.h"

#include <chrono>
#include <mutex>
#include <vector>

namespace corvane::test {

// A clock that moves only when a test advances it. Due work runs on its own
// queue, one item after the other in deadline order, each waited for before
// the clock moves on, so that work scheduling further work within the same
// advance runs too. Items for the main queue run on the calling thread.
class ManualScheduler : public Scheduler {
public:
    using Scheduler::asyncAfter;

    void asyncAfter(const DispatchQueuePtr &queue, double seconds, WorkItemPtr item) override
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back({m_now + seconds, m_sequence++, queue, std::move(item)});
    }

    // Seconds since the scheduler was made.
    double now() const
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }

    // Items not yet due, cancelled ones included.
    size_t pendingCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_pending.size();
    }

    // Moves the clock by `seconds`, running what falls due. False when an
    // item did not finish in time (a stall).
    bool advance(double seconds)
    {
        double target;
        {
            std::lock_guard lock(m_mutex);
            target = m_now + seconds;
        }
        for (;;) {
            Entry entry;
            {
                std::lock_guard lock(m_mutex);
                auto next = m_pending.end();
                for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
                    if (it->deadline <= target + 1e-9 &&
                        (next == m_pending.end() || it->deadline < next->deadline ||
                         (it->deadline == next->deadline && it->sequence < next->sequence)))
                        next = it;
                if (next == m_pending.end()) {
                    m_now = target;
                    return true;
                }
                entry = *next;
                m_pending.erase(next);
                m_now = std::max(m_now, entry.deadline);
            }
            if (entry.queue->kind() == DispatchQueue::Kind::Main) {
                entry.item->perform();
                continue;
            }
            auto done = std::make_shared<DispatchSemaphore>();
            entry.queue->async([item = entry.item, done] {
                item->perform();
                done->signal();
            });
            if (!done->wait(std::chrono::seconds(30)))
                return false;
        }
    }

private:
    struct Entry {
        double deadline = 0;
        quint64 sequence = 0;
        DispatchQueuePtr queue;
        WorkItemPtr item;
    };

    mutable std::mutex m_mutex;
    double m_now = 0;
    quint64 m_sequence = 0;
    std::vector<Entry> m_pending;
};

} // namespace corvane::test
