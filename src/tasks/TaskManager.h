#pragma once

#include "core/Observer.h"
#include "core/TaskService.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"
#include "tasks/Task.h"

#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

class ArchiveTask;
class Container;
class ContainerClaims;
class ExportTask;
class ImportTask;
struct UnsplashService;

// The one list of the tasks the user started in this run, oldest first, and
// the queue their bodies run on. Viewers learn of changes only through the
// notifications below (object the manager), each carrying a snapshot of the
// list taken under the manager's lock and posted outside it.
class TaskManager : public Object, public TaskService {
public:
    using Task = corvane::Task;
    using TaskPtr = corvane::TaskPtr;
    using TaskList = std::vector<TaskPtr>;

    // User info "tasks" and "activeTasks" (TaskList, oldest first).
    static constexpr const char *tasksDidChange =
        "com.quendrith.corvane.taskmanager.tasksdidchange";
    // User info "task" (TaskPtr) for the next three.
    static constexpr const char *didAddTask = "com.quendrith.corvane.taskmanager.didaddtask";
    // Posted on the updating thread after every update of a complete task.
    static constexpr const char *didCompleteTask =
        "com.quendrith.corvane.taskmanager.didcompletetask";
    static constexpr const char *didRemoveTask = "com.quendrith.corvane.taskmanager.didremovetask";
    static constexpr const char *queueLabel = "com.quendrith.corvane.taskmanager";

    static std::shared_ptr<TaskManager> shared();
    // Makes the shared manager the model's task service.
    static void installAsTaskService();

    // A manager of its own; the program uses shared().
    static std::shared_ptr<TaskManager> make();

    TaskList tasks() const;
    // The tasks whose bodies are running, oldest first.
    TaskList runningTasks() const;
    // Appends, posts tasksDidChange, then didAddTask; on the caller's thread.
    void add(const TaskPtr &task);
    // Removes the task itself (not an equal-looking one), posts
    // tasksDidChange, then didRemoveTask; a task not listed posts nothing.
    void remove(const TaskPtr &task);
    void postTasksDidChange();

    // The concurrent queue every task body runs on.
    static DispatchQueuePtr queue();

    // Reading the notifications' user info.
    static TaskPtr task(const QVariantMap &userInfo);
    static TaskList tasks(const QVariantMap &userInfo, const QString &key);

    void exportData(const std::shared_ptr<Application> &application, const QUrl &url) override;
    void importData(const std::shared_ptr<Application> &application, const QUrl &url) override;
    // The same, giving the started task. An export or import starts only
    // once it holds every container of its application and its archive's
    // place: one that finds any of them held by another export or import, of
    // any application and in this program or another copy of it, or kept for
    // the next start by a task that could not finish its journal entry, ends
    // cancelled before it touches anything, saying why. A task that leaves
    // its entry unfinished keeps what it holds until the program ends.
    std::shared_ptr<ExportTask> startExport(const std::shared_ptr<Application> &application,
                                            const QUrl &url);
    std::shared_ptr<ImportTask> startImport(const std::shared_ptr<Application> &application,
                                            const QUrl &url);
    // The same for a task already made (of a kind derived from the task's).
    void startExport(const std::shared_ptr<ExportTask> &task, const QUrl &url);
    void startImport(const std::shared_ptr<ImportTask> &task, const QUrl &url);
    // Adds the task on this thread and runs the body on the task queue, then
    // posts tasksDidChange.
    void start(const TaskPtr &task, std::function<void()> body);
    // Adds an UnsplashTask on this thread and starts it on the queue.
    void startUnsplashTask(const QString &searchString,
                           const std::shared_ptr<Device> &device) override;
    // Where Unsplash tasks started from now on send their requests; until
    // set, where the environment says.
    void setUnsplashService(const UnsplashService &service);

    // What the archive tasks hold; the start's recovery holds there too.
    ContainerClaims &claims() const { return *m_claims; }

private:
    using ArchiveBody = std::function<void(const std::vector<std::shared_ptr<Container>> &)>;

    TaskManager();
    // Starts the archive task, whose body runs with its application's
    // containers and the archive held; `activity` tells a task turned away
    // meanwhile what this one does.
    void startArchiveTask(const std::shared_ptr<ArchiveTask> &task, const QUrl &archive,
                          const QString &activity, ArchiveBody body);
    void observeTaskUpdates();
    void taskDidUpdate(const TaskPtr &task);
    void postTasksDidChange(const TaskList &snapshot);
    void postWithTask(const char *name, const TaskPtr &task);

    mutable std::mutex m_mutex;
    TaskList m_tasks;
    TaskList m_running;
    std::shared_ptr<const UnsplashService> m_unsplashService;
    const std::shared_ptr<ContainerClaims> m_claims;
    ObserverCollection m_observers;
};

} // namespace corvane
