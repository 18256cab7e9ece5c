#pragma once

#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

class Application;
class Device;

// The long operations the model hands to the background tasks. Each call
// starts its task and returns at once; the task reports its own progress and
// failure, never to the caller.
class TaskService {
public:
    virtual ~TaskService() = default;

    // Quits the application, then copies its containers into a new
    // ".xcappdata" archive folder at `url`.
    virtual void exportData(const std::shared_ptr<Application> &application, const QUrl &url) = 0;
    // Quits the application, empties its containers and copies the archive
    // folder's files into them.
    virtual void importData(const std::shared_ptr<Application> &application, const QUrl &url) = 0;
    // Fetches images for the search and adds each to the device's photos.
    virtual void startUnsplashTask(const QString &searchString,
                                   const std::shared_ptr<Device> &device) = 0;

    // A StubTaskService until the task manager registers itself.
    static std::shared_ptr<TaskService> shared();
    static void setShared(std::shared_ptr<TaskService> service);
};

// Stands in for the task manager: logs and records each request, runs none.
class StubTaskService : public TaskService {
public:
    enum class Operation { exportData, importData, unsplash };

    struct Call {
        Operation operation;
        std::weak_ptr<Application> application;
        std::weak_ptr<Device> device;
        QUrl url;
        QString searchString;
    };

    void exportData(const std::shared_ptr<Application> &application, const QUrl &url) override;
    void importData(const std::shared_ptr<Application> &application, const QUrl &url) override;
    void startUnsplashTask(const QString &searchString,
                           const std::shared_ptr<Device> &device) override;

    std::vector<Call> calls() const;

private:
    void record(Call call);

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
};

} // namespace corvane
