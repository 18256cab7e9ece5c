#pragma once

#include "platform/Object.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// The shared list of long operations, as far as the shell reads it: each
// task's progress counts, and the notifications of an added and of a
// completed task (object the manager, user info "task").
class TaskManager : public Object {
public:
    static constexpr const char *didAddTask = "com.quendrith.corvane.taskmanager.didaddtask";
    static constexpr const char *didCompleteTask =
        "com.quendrith.corvane.taskmanager.didcompletetask";

    class Task : public Object {
    public:
        explicit Task(QString description = {}, int totalCount = 0, int completedCount = 0);

        QString description() const;
        int totalCount() const;
        int completedCount() const;
        bool isCancelled() const;
        void cancel();
        // Finished: some work to do and all of it done.
        bool isComplete() const;

    private:
        friend class TaskManager;
        mutable std::mutex m_mutex;
        QString m_description;
        int m_totalCount;
        int m_completedCount;
        bool m_cancelled = false;
    };
    using TaskPtr = std::shared_ptr<Task>;

    static std::shared_ptr<TaskManager> shared();

    std::vector<TaskPtr> tasks() const;
    void addTask(const TaskPtr &task);
    // Posts didCompleteTask when the update completes a task not cancelled.
    void updateTask(const TaskPtr &task, int completedCount, int totalCount);
    // Tests: forgets every task.
    void removeAllTasks();

private:
    TaskManager() = default;

    mutable std::mutex m_mutex;
    std::vector<TaskPtr> m_tasks;
};

} // namespace corvane
