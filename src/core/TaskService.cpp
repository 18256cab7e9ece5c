#include "core/TaskService.h"

#include "platform/Log.h"

namespace corvane {

namespace {

std::mutex g_mutex;
std::shared_ptr<TaskService> g_shared;

Log tasksLog()
{
    return Log("tasks");
}

} // namespace

std::shared_ptr<TaskService> TaskService::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<StubTaskService>();
    return g_shared;
}

void TaskService::setShared(std::shared_ptr<TaskService> service)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(service);
}

void StubTaskService::exportData(const std::shared_ptr<Application> &application, const QUrl &url)
{
    tasksLog().notice("No task manager to export data to %{public}@", url.toLocalFile());
    record({Operation::exportData, application, {}, url, {}});
}

void StubTaskService::importData(const std::shared_ptr<Application> &application, const QUrl &url)
{
    tasksLog().notice("No task manager to import data from %{public}@", url.toLocalFile());
    record({Operation::importData, application, {}, url, {}});
}

void StubTaskService::startUnsplashTask(const QString &searchString,
                                        const std::shared_ptr<Device> &device)
{
    tasksLog().notice("No task manager to fetch images for %{public}@", searchString);
    record({Operation::unsplash, {}, device, {}, searchString});
}

std::vector<StubTaskService::Call> StubTaskService::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

void StubTaskService::record(Call call)
{
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

} // namespace corvane
