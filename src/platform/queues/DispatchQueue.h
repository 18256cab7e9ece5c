#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

class WorkerPool;

// A unit of queued work that can be cancelled until it starts.
class WorkItem {
public:
    explicit WorkItem(std::function<void()> work) : m_work(std::move(work)) {}

    void perform();
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

private:
    std::function<void()> m_work;
    std::atomic<bool> m_cancelled{false};
};

using WorkItemPtr = std::shared_ptr<WorkItem>;
using Clock = std::chrono::steady_clock;

// Serial and concurrent queues on real threads, and the main queue on the Qt
// event loop. Without a QCoreApplication, main-queue work waits until a test
// calls drainMain().
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    enum class Kind { Main, Serial, Concurrent };

    static std::shared_ptr<DispatchQueue> main();
    static std::shared_ptr<DispatchQueue> userInitiated();
    static std::shared_ptr<DispatchQueue> background();
    static std::shared_ptr<DispatchQueue> makeSerial(const QString &label);
    static std::shared_ptr<DispatchQueue> makeConcurrent(const QString &label);

    ~DispatchQueue();

    QString label() const { return m_label; }
    Kind kind() const { return m_kind; }

    void async(std::function<void()> work);
    void async(WorkItemPtr item);
    void asyncAfter(Clock::time_point deadline, WorkItemPtr item);
    void asyncAfter(Clock::time_point deadline, std::function<void()> work);
    void asyncAfter(double seconds, std::function<void()> work);

    // Runs the work on this queue and waits for it; on the queue's own
    // thread (or main from main) it runs inline.
    template <class F> auto sync(F &&work) -> decltype(work())
    {
        using R = decltype(work());
        if (isCurrent())
            return work();
        std::packaged_task<R()> task(std::forward<F>(work));
        auto future = task.get_future();
        auto shared = std::make_shared<std::packaged_task<R()>>(std::move(task));
        async([shared] { (*shared)(); });
        return future.get();
    }

    // True when the calling thread is running work of this queue.
    bool isCurrent() const;

    static bool isMainThread();
    // Waits until no work runs or waits on the worker threads, so that the
    // process can end without pulling statics from under running work.
    static bool waitUntilIdle(std::chrono::milliseconds timeout);
    // Runs every main-queue item pending now; returns how many ran.
    static int drainMain();

private:
    DispatchQueue(Kind kind, QString label, WorkerPool *pool);
    void drainSerial();
    void postToMain(WorkItemPtr item);
    void postMainDrain();

    Kind m_kind;
    QString m_label;
    WorkerPool *m_pool = nullptr;

    std::mutex m_mutex;
    std::deque<WorkItemPtr> m_pending;
    bool m_draining = false;
    bool m_drainPosted = false;
};

using DispatchQueuePtr = std::shared_ptr<DispatchQueue>;

// Hands a reference to the main queue to be dropped there: menus, their rows
// and what holds them (a command, collected rows) must end on the main
// thread, where they may still be rendered. On the main thread it is simply
// dropped.
template <class T> void releaseOnMain(T value)
{
    if (DispatchQueue::isMainThread())
        return;
    DispatchQueue::main()->async([value = std::move(value)] {});
}

class DispatchSemaphore {
public:
    explicit DispatchSemaphore(int value = 0) : m_value(value) {}
    void signal();
    void wait();
    // False when the timeout passed first.
    bool wait(std::chrono::milliseconds timeout);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_value;
};

} // namespace corvane
