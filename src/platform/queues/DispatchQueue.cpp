#include "platform/queues/DispatchQueue.h"

#include <QCoreApplication>
#include <QThread>

#include <queue>
#include <thread>
#include <vector>

namespace corvane {

namespace {

thread_local const DispatchQueue *t_currentQueue = nullptr;
const std::thread::id g_mainThreadId = std::this_thread::get_id();

struct CurrentQueueScope {
    explicit CurrentQueueScope(const DispatchQueue *queue) : m_saved(t_currentQueue)
    {
        t_currentQueue = queue;
    }
    ~CurrentQueueScope() { t_currentQueue = m_saved; }
    const DispatchQueue *m_saved;
};

} // namespace

void WorkItem::perform()
{
    if (m_cancelled.load())
        return;
    if (m_work)
        m_work();
}

// Threads that grow while work is waiting and every thread is busy (a thread
// may sit in a ten-second tool call), and retire after a while idle.
class WorkerPool {
public:
    explicit WorkerPool(int maxThreads) : m_maxThreads(maxThreads) {}

    void submit(std::function<void()> job)
    {
        std::unique_lock lock(m_mutex);
        m_jobs.push_back(std::move(job));
        // Idle threads that were woken but have not taken their job yet still
        // count as idle: compare with every job waiting, not just this one.
        if (qsizetype(m_jobs.size()) <= m_idle) {
            m_cv.notify_one();
            return;
        }
        if (m_threads < m_maxThreads) {
            ++m_threads;
            std::thread([this] { run(); }).detach();
        } else {
            m_cv.notify_one();
        }
    }

    bool waitUntilIdle(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_idleCv.wait_for(lock, timeout,
                                 [this] { return m_running == 0 && m_jobs.empty(); });
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            while (m_jobs.empty()) {
                ++m_idle;
                const bool woke = m_cv.wait_for(lock, std::chrono::seconds(10),
                                                [this] { return !m_jobs.empty(); });
                --m_idle;
                if (!woke) {
                    --m_threads;
                    return;
                }
            }
            auto job = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_running;
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            --m_running;
            if (m_running == 0 && m_jobs.empty())
                m_idleCv.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::condition_variable m_idleCv;
    std::deque<std::function<void()>> m_jobs;
    int m_running = 0;
    int m_threads = 0;
    int m_idle = 0;
    const int m_maxThreads;
};

namespace {

WorkerPool &sharedPool()
{
    static auto *pool = new WorkerPool(96);
    return *pool;
}

// One steady-clock thread hands due items to their queues.
class TimerThread {
public:
    static TimerThread &shared()
    {
        static auto *timer = new TimerThread;
        return *timer;
    }

    void schedule(Clock::time_point deadline, DispatchQueuePtr queue, WorkItemPtr item)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push(Entry{deadline, m_sequence++, std::move(queue), std::move(item)});
        if (!m_started) {
            m_started = true;
            std::thread([this] { run(); }).detach();
        }
        m_cv.notify_one();
    }

private:
    struct Entry {
        Clock::time_point deadline;
        quint64 sequence;
        DispatchQueuePtr queue;
        WorkItemPtr item;
        bool operator>(const Entry &other) const
        {
            return deadline != other.deadline ? deadline > other.deadline
                                              : sequence > other.sequence;
        }
    };

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_entries.empty()) {
                m_cv.wait(lock);
                continue;
            }
            const auto next = m_entries.top().deadline;
            if (Clock::now() < next) {
                m_cv.wait_until(lock, next);
                continue;
            }
            Entry entry = m_entries.top();
            m_entries.pop();
            lock.unlock();
            if (!entry.item->isCancelled())
                entry.queue->async(entry.item);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> m_entries;
    quint64 m_sequence = 0;
    bool m_started = false;
};

} // namespace

DispatchQueue::DispatchQueue(Kind kind, QString label, WorkerPool *pool)
    : m_kind(kind), m_label(std::move(label)), m_pool(pool)
{
}

DispatchQueue::~DispatchQueue() = default;

DispatchQueuePtr DispatchQueue::main()
{
    static DispatchQueuePtr queue(new DispatchQueue(Kind::Main, "com.apple.main-thread", nullptr));
    return queue;
}

DispatchQueuePtr DispatchQueue::userInitiated()
{
    static DispatchQueuePtr queue(
        new DispatchQueue(Kind::Concurrent, "com.apple.root.user-initiated-qos", &sharedPool()));
    return queue;
}

DispatchQueuePtr DispatchQueue::background()
{
    static DispatchQueuePtr queue(
        new DispatchQueue(Kind::Concurrent, "com.apple.root.background-qos", &sharedPool()));
    return queue;
}

DispatchQueuePtr DispatchQueue::makeSerial(const QString &label)
{
    return DispatchQueuePtr(new DispatchQueue(Kind::Serial, label, &sharedPool()));
}

DispatchQueuePtr DispatchQueue::makeConcurrent(const QString &label)
{
    return DispatchQueuePtr(new DispatchQueue(Kind::Concurrent, label, &sharedPool()));
}

void DispatchQueue::async(std::function<void()> work)
{
    async(std::make_shared<WorkItem>(std::move(work)));
}

void DispatchQueue::async(WorkItemPtr item)
{
    switch (m_kind) {
    case Kind::Main: postToMain(std::move(item)); return;
    case Kind::Concurrent: {
        // The pool and the queue objects live until the process ends for the
        // global queues; named queues are kept alive by their pending work.
        auto self = shared_from_this();
        m_pool->submit([self, item = std::move(item)] {
            CurrentQueueScope scope(self.get());
            item->perform();
        });
        return;
    }
    case Kind::Serial: {
        bool start = false;
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(item));
            if (!m_draining) {
                m_draining = true;
                start = true;
            }
        }
        if (start) {
            auto self = shared_from_this();
            m_pool->submit([self] { self->drainSerial(); });
        }
        return;
    }
    }
}

void DispatchQueue::drainSerial()
{
    CurrentQueueScope scope(this);
    for (;;) {
        WorkItemPtr item;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                m_draining = false;
                return;
            }
            item = std::move(m_pending.front());
            m_pending.pop_front();
        }
        item->perform();
    }
}

void DispatchQueue::postToMain(WorkItemPtr item)
{
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(item));
        post = !m_drainPosted;
    }
    if (post)
        postMainDrain();
}

// At most one event is posted at a time, each running the oldest item and
// posting the next before it runs: thousands of queued items never crowd
// Qt's event queue, order is kept, and a nested event loop (a modal alert in
// one item) goes on draining.
void DispatchQueue::postMainDrain()
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_drainPosted)
            return;
        m_drainPosted = true;
    }
    QMetaObject::invokeMethod(
        app,
        [] {
            auto queue = DispatchQueue::main();
            WorkItemPtr next;
            bool more = false;
            {
                std::lock_guard lock(queue->m_mutex);
                queue->m_drainPosted = false;
                if (queue->m_pending.empty())
                    return;
                next = std::move(queue->m_pending.front());
                queue->m_pending.pop_front();
                more = !queue->m_pending.empty();
            }
            if (more)
                queue->postMainDrain();
            CurrentQueueScope scope(queue.get());
            next->perform();
        },
        Qt::QueuedConnection);
}

int DispatchQueue::drainMain()
{
    auto queue = main();
    std::deque<WorkItemPtr> items;
    {
        std::lock_guard lock(queue->m_mutex);
        items.swap(queue->m_pending);
    }
    CurrentQueueScope scope(queue.get());
    for (auto &item : items)
        item->perform();
    return int(items.size());
}

bool DispatchQueue::waitUntilIdle(std::chrono::milliseconds timeout)
{
    return sharedPool().waitUntilIdle(timeout);
}

bool DispatchQueue::isCurrent() const
{
    if (m_kind == Kind::Main)
        return isMainThread();
    return t_currentQueue == this;
}

bool DispatchQueue::isMainThread()
{
    if (auto *app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return std::this_thread::get_id() == g_mainThreadId;
}

void DispatchQueue::asyncAfter(Clock::time_point deadline, WorkItemPtr item)
{
    TimerThread::shared().schedule(deadline, shared_from_this(), std::move(item));
}

void DispatchQueue::asyncAfter(Clock::time_point deadline, std::function<void()> work)
{
    asyncAfter(deadline, std::make_shared<WorkItem>(std::move(work)));
}

void DispatchQueue::asyncAfter(double seconds, std::function<void()> work)
{
    const auto delay =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    asyncAfter(Clock::now() + delay, std::move(work));
}

void DispatchSemaphore::signal()
{
    std::lock_guard lock(m_mutex);
    ++m_value;
    m_cv.notify_one();
}

void DispatchSemaphore::wait()
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_value > 0; });
    --m_value;
}

bool DispatchSemaphore::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [this] { return m_value > 0; }))
        return false;
    --m_value;
    return true;
}

} // namespace corvane
