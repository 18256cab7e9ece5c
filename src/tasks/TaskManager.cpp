#include "tasks/TaskManager.h"

#include "core/File.h"
#include "model/Application.h"
#include "model/Container.h"
#include "model/Device.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "tasks/ContainerClaims.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/UnsplashTask.h"

#include <QVariant>

#include <algorithm>

namespace corvane {

std::shared_ptr<TaskManager> TaskManager::shared()
{
    static const std::shared_ptr<TaskManager> manager = make();
    return manager;
}

void TaskManager::installAsTaskService()
{
    TaskService::setShared(shared());
}

TaskManager::TaskManager() : m_claims(std::make_shared<ContainerClaims>())
{
}

std::shared_ptr<TaskManager> TaskManager::make()
{
    std::shared_ptr<TaskManager> manager(new TaskManager);
    manager->observeTaskUpdates();
    return manager;
}

void TaskManager::observeTaskUpdates()
{
    // Every task's updates, on the thread that posts them.
    m_observers.append(observeNotification(
        Task::didUpdate, nullptr,
        [weak = weakAs<TaskManager>()](const Notification &, const ObjectPtr &object) {
            auto manager = weak.lock();
            auto task = std::dynamic_pointer_cast<Task>(object);
            if (manager && task)
                manager->taskDidUpdate(task);
        }));
}

void TaskManager::taskDidUpdate(const TaskPtr &task)
{
    if (task->isComplete())
        postWithTask(didCompleteTask, task);
}

TaskManager::TaskList TaskManager::tasks() const
{
    std::lock_guard lock(m_mutex);
    return m_tasks;
}

void TaskManager::add(const TaskPtr &task)
{
    if (!task)
        return;
    TaskList snapshot;
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(task);
        snapshot = m_tasks;
    }
    postTasksDidChange(snapshot);
    postWithTask(didAddTask, task);
}

void TaskManager::remove(const TaskPtr &task)
{
    TaskPtr removed;
    TaskList snapshot;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find(m_tasks.begin(), m_tasks.end(), task);
        if (it == m_tasks.end())
            return;
        removed = *it;
        m_tasks.erase(it);
        snapshot = m_tasks;
    }
    postTasksDidChange(snapshot);
    postWithTask(didRemoveTask, removed);
}

void TaskManager::postTasksDidChange()
{
    postTasksDidChange(tasks());
}

void TaskManager::postTasksDidChange(const TaskList &snapshot)
{
    TaskList active;
    std::copy_if(snapshot.begin(), snapshot.end(), std::back_inserter(active),
                 [](const TaskPtr &task) { return task->isActive(); });
    postNotification(
        tasksDidChange, shared_from_this(),
        {{"tasks", QVariant::fromValue(snapshot)}, {"activeTasks", QVariant::fromValue(active)}});
}

void TaskManager::postWithTask(const char *name, const TaskPtr &task)
{
    postNotification(name, shared_from_this(), {{"task", QVariant::fromValue(task)}});
}

DispatchQueuePtr TaskManager::queue()
{
    static const DispatchQueuePtr queue = DispatchQueue::makeConcurrent(queueLabel);
    return queue;
}

TaskPtr TaskManager::task(const QVariantMap &userInfo)
{
    return userInfo.value("task").value<TaskPtr>();
}

TaskManager::TaskList TaskManager::tasks(const QVariantMap &userInfo, const QString &key)
{
    return userInfo.value(key).value<TaskList>();
}

void TaskManager::start(const TaskPtr &task, std::function<void()> body)
{
    add(task);
    {
        std::lock_guard lock(m_mutex);
        m_running.push_back(task);
    }
    queue()->async([weak = weakAs<TaskManager>(), task, body = std::move(body)] {
        body();
        if (auto manager = weak.lock()) {
            {
                std::lock_guard lock(manager->m_mutex);
                std::erase(manager->m_running, task);
            }
            manager->postTasksDidChange();
        }
    });
}

TaskManager::TaskList TaskManager::runningTasks() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void TaskManager::exportData(const std::shared_ptr<Application> &application, const QUrl &url)
{
    startExport(application, url);
}

std::shared_ptr<ExportTask>
TaskManager::startExport(const std::shared_ptr<Application> &application, const QUrl &url)
{
    if (!application)
        return nullptr;
    auto task = std::make_shared<ExportTask>(application);
    startExport(task, url);
    return task;
}

void TaskManager::startExport(const std::shared_ptr<ExportTask> &task, const QUrl &url)
{
    startArchiveTask(task, url,
                     loc("“%1” is already being exported.", "").arg(task->application()->title()),
                     [task, url](const auto &containers) { task->run(containers, url); });
}

void TaskManager::importData(const std::shared_ptr<Application> &application, const QUrl &url)
{
    startImport(application, url);
}

std::shared_ptr<ImportTask>
TaskManager::startImport(const std::shared_ptr<Application> &application, const QUrl &url)
{
    if (!application)
        return nullptr;
    auto task = std::make_shared<ImportTask>(application);
    startImport(task, url);
    return task;
}

void TaskManager::startImport(const std::shared_ptr<ImportTask> &task, const QUrl &url)
{
    startArchiveTask(task, url,
                     loc("“%1” is already being replaced.", "").arg(task->application()->title()),
                     [task, url](const auto &containers) { task->run(containers, url); });
}

namespace {

// The title and the explanation of a refusal, for the task turned away.
std::pair<QString, QString> refusalTexts(const ContainerClaims::Refusal &refusal,
                                         const QString &title)
{
    using Reason = ContainerClaims::Refusal::Reason;
    switch (refusal.reason) {
    case Reason::running:
        return {refusal.activity,
                loc("Only one export or replace at a time can use an application's data, or "
                    "data it shares with other applications. Try again when that task has "
                    "finished.",
                    "")};
    case Reason::waiting:
        return {loc("“%1” waits for the next start of Corvane.", "").arg(title),
                loc("An earlier export or replace of this data could not be undone yet. "
                    "The next start of Corvane finishes it; until then its data is left as it "
                    "is. Quit Corvane and open it again, then try again.",
                    "")};
    case Reason::elsewhere:
        return {loc("“%1” is in use by another running Corvane.", "").arg(title),
                loc("Another copy of Corvane is exporting or replacing this data, or keeps it "
                    "for its next start. Try again when it has finished, or quit it.",
                    "")};
    case Reason::unlockable: break;
    }
    return {loc("“%1” cannot be reserved for this task.", "").arg(title),
            loc("Corvane keeps a lock file for each application's data in its state folder, so "
                "that no two copies of it change the data at once, and cannot make one there. "
                "Nothing was changed.",
                "")};
}

} // namespace

void TaskManager::startArchiveTask(const std::shared_ptr<ArchiveTask> &task, const QUrl &archive,
                                   const QString &activity, ArchiveBody body)
{
    start(task, [claims = m_claims, task, archive, activity, body = std::move(body)] {
        // Listing the containers runs the simulator tool, so it is done here.
        const auto containers = ArchiveTask::containersOf(*task->application());
        // The archive too: an export into a container that an import empties
        // would lose both.
        std::vector<std::filesystem::path> folders{nativePath(archive)};
        for (const auto &container : containers)
            folders.push_back(nativePath(container->url()));
        // Held until the body has returned, whatever way it ends.
        auto claim = claims->claim(folders, activity);
        if (const auto *refusal = std::get_if<ContainerClaims::Refusal>(&claim)) {
            const auto [title, advice] = refusalTexts(*refusal, task->application()->title());
            return task->refuseWhileBusy(title, advice);
        }
        body(containers);
        // What the entry left describes stays as it is until the next start.
        if (task->leftEntryUnfinished())
            claims->retain(std::move(std::get<ContainerClaims::Claim>(claim)));
    });
}

void TaskManager::startUnsplashTask(const QString &searchString,
                                    const std::shared_ptr<Device> &device)
{
    if (!device)
        return;
    std::shared_ptr<const UnsplashService> service;
    {
        std::lock_guard lock(m_mutex);
        service = m_unsplashService;
    }
    auto task = UnsplashTask::make(searchString, device,
                                   service ? *service : UnsplashService::fromEnvironment());
    start(task, [task] { task->requestImages(); });
}

void TaskManager::setUnsplashService(const UnsplashService &service)
{
    std::lock_guard lock(m_mutex);
    m_unsplashService = std::make_shared<const UnsplashService>(service);
}

} // namespace corvane
