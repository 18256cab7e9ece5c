#pragma once

#include "core/TaskService.h"

#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// Stands in for the task manager: records each request, runs none.
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

    void exportData(const std::shared_ptr<Application> &application, const QUrl &url) override
    {
        record({Operation::exportData, application, {}, url, {}});
    }
    void importData(const std::shared_ptr<Application> &application, const QUrl &url) override
    {
        record({Operation::importData, application, {}, url, {}});
    }
    void startUnsplashTask(const QString &searchString,
                           const std::shared_ptr<Device> &device) override
    {
        record({Operation::unsplash, {}, device, {}, searchString});
    }

    std::vector<Call> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    void record(Call call)
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
};

} // namespace corvane
