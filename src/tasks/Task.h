#pragma once

#include "core/Observer.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QString>
#include <QUuid>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

// One long operation the user started: two progress counts, a cancellation
// flag and two texts to show. Whoever changes what a viewer shows calls
// postDidUpdate() afterwards. Counts and the flag may be changed from any
// thread; texts and canInspect are read as copies.
class Task : public Object {
public:
    static constexpr const char *didUpdate = "com.quendrith.corvane.taskmanager.task.didupdate";

    using TaskPtr = std::shared_ptr<Task>;
    using UpdateHandler = std::function<void(const TaskPtr &task)>;

    Task();
    ~Task() override;
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;

    QUuid taskID() const { return m_taskID; }
    // Upper case, 36 characters.
    QString taskIDString() const;

    // 0 while the amount of work is not known yet.
    std::int64_t totalCount() const { return m_totalCount.load(); }
    void setTotalCount(std::int64_t count) { m_totalCount.store(count); }
    // Returns the new count.
    std::int64_t addToTotalCount(std::int64_t amount = 1) { return m_totalCount += amount; }
    std::int64_t completedCount() const { return m_completedCount.load(); }
    void setCompletedCount(std::int64_t count) { m_completedCount.store(count); }
    std::int64_t addToCompletedCount(std::int64_t amount = 1) { return m_completedCount += amount; }

    // Set by cancel(), and by tasks that give up; bodies poll it between
    // units of work.
    bool isCancelled() const { return m_cancelled.load(); }
    void setCancelled(bool cancelled) { m_cancelled.store(cancelled); }
    // Ended without its work done for a reason other than the user's
    // cancelling; the detail text says why.
    bool hasFailed() const { return m_failed.load(); }
    void setFailed(bool failed) { m_failed.store(failed); }
    // Did all its work and changes no more, even when a cancel came too late
    // to stop it; a task whose counts are complete may still be at its last
    // step.
    bool hasFinished() const { return m_finished.load(); }
    void setFinished(bool finished) { m_finished.store(finished); }

    // What the task works on.
    std::optional<QString> localizedDescription() const;
    void setLocalizedDescription(std::optional<QString> text);
    // The current step or the outcome.
    std::optional<QString> localisedDetailDescription() const;
    void setLocalisedDetailDescription(std::optional<QString> text);
    // Whether reveal() has a result to show.
    bool canInspect() const;
    void setCanInspect(bool canInspect);

    // Still at work: neither cancelled nor failed, and some work is known
    // and not all of it done, or none is known yet.
    bool isActive() const;
    // Cancelled, failed, or every known unit of work done (exactly, not
    // more).
    bool isComplete() const;

    // Posts didUpdate with the task as object, synchronously on this thread.
    // A task not owned by a shared_ptr yet (being constructed) posts nothing:
    // nobody can be observing it.
    void postDidUpdate();
    // Sets the flag, then posts.
    virtual void cancel();
    // Shows the task's result; callers check canInspect() first.
    virtual void reveal();

    // The handler hears this task's updates on `queue` (on the posting
    // thread when none). The registration is also kept by the task, so it
    // lasts as long as the task.
    std::shared_ptr<NotificationObserver> observeDidUpdate(DispatchQueuePtr queue,
                                                           UpdateHandler handler);

    // A task is only ever equal to itself.
    friend bool operator==(const Task &a, const Task &b) { return &a == &b; }

private:
    const QUuid m_taskID;
    std::atomic<std::int64_t> m_totalCount{0};
    std::atomic<std::int64_t> m_completedCount{0};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_finished{false};

    mutable std::mutex m_mutex;
    std::optional<QString> m_localizedDescription;
    std::optional<QString> m_localisedDetailDescription;
    bool m_canInspect = false;
    ObserverCollection m_observers;
};

using TaskPtr = Task::TaskPtr;

} // namespace corvane
