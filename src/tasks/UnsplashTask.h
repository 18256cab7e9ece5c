#pragma once

#include "platform/net/HttpClient.h"
#include "tasks/Task.h"
#include "tasks/UnsplashSearchResults.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

class Device;

// Where imports send their requests.
struct UnsplashService {
    // The API's base URL; CORVANE_UNSPLASH_BASE overrides the service's own.
    QString base;
    // CORVANE_UNSPLASH_KEY overrides the built-in access key.
    QString accessKey;
    // None: HttpClient::shared().
    std::shared_ptr<HttpClient> client;
    // Runs the finishing step later on the task queue; none: after 1.0 s.
    std::function<void(std::function<void()> step)> scheduleFinish;
    // What each reply may cost: the search reply, a photo, and the reply to
    // the ping that tells the service a photo is used.
    TransferLimits searchLimits{std::chrono::seconds(60), std::chrono::minutes(2), 8 << 20};
    TransferLimits photoLimits{std::chrono::seconds(60), std::chrono::minutes(5), 40 << 20};
    TransferLimits pingLimits{std::chrono::seconds(60), std::chrono::minutes(2), 1 << 20};

    static UnsplashService fromEnvironment();
};

// Searches the photo service for a text and adds up to a page of the photos
// found to a device's library. Replies are handled on the task queue, the
// photos' concurrently; each handler holds the task weakly. A photo is
// written to a temporary file as it arrives, decoded before it goes to the
// device, and its file is removed once the device has it or the task ends.
//
// Progress: the search counts nothing; its reply adds two units per photo
// fetched (at most a page) to the total, and each downloaded photo completes one when its reply
// arrives and one when it was added. So the counts become equal only once
// every downloaded photo was handled, or at the finishing step.
class UnsplashTask : public Task {
public:
    static std::shared_ptr<UnsplashTask> make(const QString &searchString,
                                              const std::shared_ptr<Device> &device,
                                              UnsplashService service);

    QString searchString() const { return m_searchString; }
    std::shared_ptr<Device> device() const { return m_device; }
    // Every photo of the search reply, in the service's order.
    std::vector<UnsplashSearchResultsImage> imagesUsed() const;

    // Starts the search and returns; the rest happens as replies arrive.
    void requestImages();

    // Stops every request, then sets the flag and posts.
    void cancel() override;
    // Shows the photos used, once the import finished.
    void reveal() override;

private:
    using ResponseStep = std::function<void(UnsplashTask &task, const HttpResponse &response)>;

    UnsplashTask(const QString &searchString, const std::shared_ptr<Device> &device,
                 UnsplashService service);

    void handleSearchResponse(const HttpResponse &response);
    void downloadImage(const UnsplashSearchResultsImage &image);
    void saveImage(const HttpResponse &response, const QString &file);
    // Sends a request; its reply goes to `step` on the task queue (none:
    // the reply is ignored). A body file is removed when the task is gone.
    void startRequest(const QUrl &url, const TransferLimits &limits, const QString &bodyFile,
                      ResponseStep step);
    void failFetch(const QString &error);
    void giveUp();
    void fail(const QString &text);
    void setDetail(const QString &text);

    // One entry for the search, one per photo; the last leave schedules
    // the finishing step.
    void enterGroup() { m_group.fetch_add(1); }
    void leaveGroup();
    void finish();

    const QString m_searchString;
    const std::shared_ptr<Device> m_device;
    const UnsplashService m_service;
    const std::shared_ptr<HttpClient> m_client;
    std::atomic<int> m_group{0};

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<HttpRequest>> m_urlTasks;
    std::vector<UnsplashSearchResultsImage> m_imagesUsed;
};

} // namespace corvane
