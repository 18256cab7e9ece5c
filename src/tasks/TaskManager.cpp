#include "tasks/TaskManager.h"

#include "core/Observer.h"

#include <QVariant>

namespace corvane {

TaskManager::Task::Task(QString description, int totalCount, int completedCount)
    : m_description(std::move(description)), m_totalCount(totalCount),
      m_completedCount(completedCount)
{
}

QString TaskManager::Task::description() const
{
    std::lock_guard lock(m_mutex);
    return m_description;
}

int TaskManager::Task::totalCount() const
{
    std::lock_guard lock(m_mutex);
    return m_totalCount;
}

int TaskManager::Task::completedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_completedCount;
}

bool TaskManager::Task::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void TaskManager::Task::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
}

bool TaskManager::Task::isComplete() const
{
    std::lock_guard lock(m_mutex);
    return m_totalCount > 0 && double(m_completedCount) / double(m_totalCount) >= 1.0;
}

std::shared_ptr<TaskManager> TaskManager::shared()
{
    static const std::shared_ptr<TaskManager> manager(new TaskManager);
    return manager;
}

std::vector<TaskManager::TaskPtr> TaskManager::tasks() const
{
    std::lock_guard lock(m_mutex);
    return m_tasks;
}

void TaskManager::addTask(const TaskPtr &task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(task);
    }
    postNotification(didAddTask, shared_from_this(),
                     {{"task", QVariant::fromValue(std::static_pointer_cast<Object>(task))}});
}

void TaskManager::updateTask(const TaskPtr &task, int completedCount, int totalCount)
{
    {
        std::lock_guard lock(task->m_mutex);
        task->m_completedCount = completedCount;
        task->m_totalCount = totalCount;
    }
    if (task->isComplete() && !task->isCancelled())
        postNotification(didCompleteTask, shared_from_this(),
                         {{"task", QVariant::fromValue(std::static_pointer_cast<Object>(task))}});
}

void TaskManager::removeAllTasks()
{
    std::lock_guard lock(m_mutex);
    m_tasks.clear();
}

} // namespace corvane
