#include "common/TestSupport.h"
#include "core/TaskService.h"
#include "platform/Log.h"
#include "tasks/TaskManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

struct Posted {
    QString name;
    TaskPtr task;
    TaskManager::TaskList tasks;
    TaskManager::TaskList activeTasks;
};

// Everything a manager posts, in order, on the posting thread.
class ManagerRecorder {
public:
    explicit ManagerRecorder(const std::shared_ptr<TaskManager> &manager)
    {
        for (const char *name : {TaskManager::tasksDidChange, TaskManager::didAddTask,
                                 TaskManager::didCompleteTask, TaskManager::didRemoveTask})
            m_observers.append(observeNotification<TaskManager>(
                name, manager, nullptr,
                [this](const Notification &notification, const std::shared_ptr<TaskManager> &) {
                    std::lock_guard lock(m_mutex);
                    m_posted.push_back({notification.name, TaskManager::task(notification.userInfo),
                                        TaskManager::tasks(notification.userInfo, "tasks"),
                                        TaskManager::tasks(notification.userInfo, "activeTasks")});
                }));
    }

    std::vector<Posted> posted() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }
    QStringList names() const
    {
        QStringList names;
        for (const auto &posted : posted())
            names << posted.name.section('.', -1);
        return names;
    }
    int count(const QString &name) const { return int(names().count(name)); }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_posted.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Posted> m_posted;
    ObserverCollection m_observers;
};

TaskPtr countedTask(std::int64_t total, std::int64_t completed)
{
    auto task = std::make_shared<Task>();
    task->setTotalCount(total);
    task->setCompletedCount(completed);
    return task;
}

} // namespace

TEST(TaskManager, AddsAndRemovesPostSnapshotsInOrder)
{
    auto manager = TaskManager::make();
    ManagerRecorder recorder(manager);
    auto older = countedTask(0, 0);
    auto newer = countedTask(2, 2);
    manager->add(older);
    manager->add(newer);

    EXPECT_EQ(recorder.names(),
              QStringList({"tasksdidchange", "didaddtask", "tasksdidchange", "didaddtask"}));
    const auto posted = recorder.posted();
    EXPECT_EQ(posted[1].task, older);
    EXPECT_EQ(posted[2].tasks, TaskManager::TaskList({older, newer}));
    // The finished task is no longer active.
    EXPECT_EQ(posted[2].activeTasks, TaskManager::TaskList({older}));
    EXPECT_EQ(posted[3].task, newer);

    // Only the listed task itself is removed, never one that looks the same.
    recorder.clear();
    manager->remove(countedTask(0, 0));
    EXPECT_TRUE(recorder.posted().empty());
    EXPECT_EQ(manager->tasks().size(), 2u);

    manager->remove(older);
    EXPECT_EQ(recorder.names(), QStringList({"tasksdidchange", "didremovetask"}));
    EXPECT_EQ(recorder.posted()[0].tasks, TaskManager::TaskList({newer}));
    EXPECT_EQ(recorder.posted()[1].task, older);
    EXPECT_EQ(manager->tasks(), TaskManager::TaskList({newer}));
}

TEST(TaskManager, ATaskEqualsOnlyItself)
{
    auto a = countedTask(3, 1);
    auto b = countedTask(3, 1);
    for (const auto &task : {a, b}) {
        task->setLocalizedDescription("Foo v1.2 (34)");
        task->setLocalisedDetailDescription("Waiting");
    }
    EXPECT_TRUE(*a == *a);
    EXPECT_FALSE(*a == *b);
    EXPECT_NE(a->taskID(), b->taskID());
    EXPECT_EQ(a->taskIDString(), a->taskIDString().toUpper());
    EXPECT_EQ(a->taskIDString().size(), 36);
}

TEST(TaskManager, CompletionFollowsCountsAndCancellation)
{
    auto manager = TaskManager::make();
    ManagerRecorder recorder(manager);

    auto unknown = countedTask(0, 0);
    unknown->setCompletedCount(5);
    EXPECT_TRUE(unknown->isActive());
    EXPECT_FALSE(unknown->isComplete());
    unknown->postDidUpdate();
    EXPECT_EQ(recorder.count("didcompletetask"), 0);

    auto over = countedTask(3, 4);
    EXPECT_FALSE(over->isActive());
    EXPECT_FALSE(over->isComplete());
    over->postDidUpdate();
    EXPECT_EQ(recorder.count("didcompletetask"), 0);

    // Every further update of a finished task announces it again.
    auto done = countedTask(3, 3);
    EXPECT_FALSE(done->isActive());
    EXPECT_TRUE(done->isComplete());
    done->postDidUpdate();
    done->setLocalisedDetailDescription("Data export completed.");
    done->postDidUpdate();
    ASSERT_EQ(recorder.count("didcompletetask"), 2);
    EXPECT_EQ(recorder.posted()[1].task, done);

    // A cancelled task is complete, and no longer active.
    recorder.clear();
    auto cancelled = countedTask(3, 1);
    manager->add(cancelled);
    cancelled->cancel();
    EXPECT_TRUE(cancelled->isCancelled());
    EXPECT_TRUE(cancelled->isComplete());
    manager->postTasksDidChange();
    EXPECT_EQ(recorder.names(),
              QStringList({"tasksdidchange", "didaddtask", "didcompletetask", "tasksdidchange"}));
    EXPECT_EQ(recorder.posted()[2].task, cancelled);
    EXPECT_EQ(recorder.posted()[3].activeTasks, TaskManager::TaskList());
}

TEST(TaskManager, UpdateObserversLastAsLongAsTheirTask)
{
    const int before = NotificationCenter::defaultCenter().observerCount(Task::didUpdate);
    std::vector<TaskPtr> heard;
    std::weak_ptr<Task> weak;
    {
        auto task = countedTask(0, 0);
        weak = task;
        auto token = task->observeDidUpdate(nullptr, [&](const TaskPtr &t) { heard.push_back(t); });
        ASSERT_TRUE(token->isValid());
        countedTask(0, 0)->postDidUpdate();
        task->postDidUpdate();
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0], task);
        heard.clear();
        EXPECT_EQ(NotificationCenter::defaultCenter().observerCount(Task::didUpdate), before + 1);
    }
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount(Task::didUpdate), before);

    // Delivery on a queue hands over the task as it is then.
    auto task = countedTask(4, 1);
    std::atomic<std::int64_t> seen{-1};
    task->observeDidUpdate(DispatchQueue::main(),
                           [&](const TaskPtr &t) { seen = t->completedCount(); });
    task->setCompletedCount(2);
    task->postDidUpdate();
    EXPECT_TRUE(waitUntil([&] { return seen.load() == 2; }));
}

TEST(TaskManager, ConcurrentAddsAndRemovesKeepOneConsistentList)
{
    auto manager = TaskManager::make();
    std::atomic<int> removedPosts{0};
    auto removals = observeNotification<TaskManager>(
        TaskManager::didRemoveTask, manager, nullptr,
        [&](const Notification &, const std::shared_ptr<TaskManager> &) { ++removedPosts; });

    constexpr int kThreads = 8;
    constexpr int kPerThread = 50;
    auto queue = DispatchQueue::makeConcurrent("tests.taskmanager.adds");
    std::atomic<int> finished{0};
    for (int thread = 0; thread < kThreads; ++thread)
        queue->async([&] {
            for (int i = 0; i < kPerThread; ++i) {
                auto task = countedTask(1, i % 2);
                manager->add(task);
                task->postDidUpdate();
            }
            ++finished;
        });

    // Held, so that no address is reused by a later task.
    std::set<TaskPtr> removed;
    const auto deadline = Clock::now() + 60s;
    while (finished.load() < kThreads && Clock::now() < deadline) {
        const auto tasks = manager->tasks();
        if (!tasks.empty()) {
            removed.insert(tasks.front());
            manager->remove(tasks.front());
        }
    }
    ASSERT_EQ(finished.load(), kThreads);

    const auto remaining = manager->tasks();
    const std::set<TaskPtr> unique(remaining.begin(), remaining.end());
    EXPECT_EQ(unique.size(), remaining.size());
    for (const auto &task : unique)
        EXPECT_FALSE(removed.count(task));
    EXPECT_EQ(removed.size() + remaining.size(), size_t(kThreads * kPerThread));
    EXPECT_EQ(removedPosts.load(), int(removed.size()));
    removals->invalidate();
}

TEST(TaskManager, TheSharedManagerIsTheTaskServiceOnceInstalled)
{
    TaskManager::installAsTaskService();
    EXPECT_EQ(TaskService::shared(), std::static_pointer_cast<TaskService>(TaskManager::shared()));
    TaskService::setShared(nullptr);
    // Asked before it is installed, the service runs nothing and logs a fault.
    Log::Capture log;
    TaskService::shared()->startUnsplashTask("cats", nullptr);
    const auto entries = log.entries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const LogEntry &entry) {
        return entry.level == LogLevel::Fault &&
               entry.message == "No task manager to fetch images for cats";
    }));
    TaskService::setShared(nullptr);
}

TEST(TaskManager, BodiesRunOnTheNamedConcurrentQueue)
{
    auto queue = TaskManager::queue();
    EXPECT_EQ(queue, TaskManager::queue());
    EXPECT_EQ(queue->label(), "com.quendrith.corvane.taskmanager");
    EXPECT_EQ(queue->kind(), DispatchQueue::Kind::Concurrent);
    // Two bodies run at once: each waits for the other.
    DispatchSemaphore first, second, done;
    queue->async([&] {
        first.signal();
        EXPECT_TRUE(second.wait(30s));
        done.signal();
    });
    queue->async([&] {
        second.signal();
        EXPECT_TRUE(first.wait(30s));
        done.signal();
    });
    EXPECT_TRUE(done.wait(60s));
    EXPECT_TRUE(done.wait(60s));
}
