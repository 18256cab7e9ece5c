#pragma once

#include <QString>
#include <QUrl>

#include <memory>

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

    // The task manager, which the program installs before anything asks.
    // Before that, a service that logs each request as a fault and runs none.
    static std::shared_ptr<TaskService> shared();
    static void setShared(std::shared_ptr<TaskService> service);
};

} // namespace corvane
