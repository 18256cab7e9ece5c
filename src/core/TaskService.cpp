#include "core/TaskService.h"

#include "platform/Log.h"

#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
std::shared_ptr<TaskService> g_shared;

// What answers before the task manager is installed: a call then is a fault
// of the program's start, not a request to keep.
class MissingTaskService : public TaskService {
public:
    void exportData(const std::shared_ptr<Application> &, const QUrl &url) override
    {
        log().fault("No task manager to export data to %{public}@", url.toLocalFile());
    }
    void importData(const std::shared_ptr<Application> &, const QUrl &url) override
    {
        log().fault("No task manager to import data from %{public}@", url.toLocalFile());
    }
    void startUnsplashTask(const QString &searchString, const std::shared_ptr<Device> &) override
    {
        log().fault("No task manager to fetch images for %{public}@", searchString);
    }

private:
    static Log log() { return Log("tasks"); }
};

} // namespace

std::shared_ptr<TaskService> TaskService::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<MissingTaskService>();
    return g_shared;
}

void TaskService::setShared(std::shared_ptr<TaskService> service)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(service);
}

} // namespace corvane
