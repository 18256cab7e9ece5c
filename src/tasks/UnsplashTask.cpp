#include "tasks/UnsplashTask.h"

#include "core/UrlHelpers.h"
#include "core/Uuid.h"
#include "model/Device.h"
#include "platform/formats/BoundedImage.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WindowController.h"
#include "tasks/TaskManager.h"
#include "tasks/UnsplashResultsWindows.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>

namespace corvane {

namespace {

constexpr double finishDelaySeconds = 1.0;
// Decoding a photo at this size proves it is one, at little cost.
constexpr QSize photoCheckSize(256, 256);

QString environmentOr(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

Log tasksLog()
{
    return Log("tasks");
}

// "<what failed>: <why>.", without a second full stop when the reason has one.
QString failureText(const QString &what, const QString &why)
{
    return what + ": " + why + (why.endsWith('.') ? "" : ".");
}

} // namespace

UnsplashService UnsplashService::fromEnvironment()
{
    return {environmentOr("CORVANE_UNSPLASH_BASE", "https://api.unsplash.com"),
            environmentOr("CORVANE_UNSPLASH_KEY", "Zr5KwP8nTq2VxH6dLm0YsB4cJf9GtA3uNe7RiO1kWpE"),
            nullptr, nullptr};
}

std::shared_ptr<UnsplashTask> UnsplashTask::make(const QString &searchString,
                                                 const std::shared_ptr<Device> &device,
                                                 UnsplashService service)
{
    return std::shared_ptr<UnsplashTask>(
        new UnsplashTask(searchString, device, std::move(service)));
}

UnsplashTask::UnsplashTask(const QString &searchString, const std::shared_ptr<Device> &device,
                           UnsplashService service)
    : m_searchString(searchString), m_device(device), m_service(std::move(service)),
      m_client(m_service.client ? m_service.client : HttpClient::shared())
{
    setLocalizedDescription(QString("Unsplash \u201C%1\u201D - %2 - %3")
                                .arg(searchString, device->title(), device->runtime().version()));
    setLocalisedDetailDescription(
        loc("Waiting to start download\u2026", "WAITING_DOWNLOAD_TASK_DESCRIPTION"));
}

std::vector<UnsplashSearchResultsImage> UnsplashTask::imagesUsed() const
{
    std::lock_guard lock(m_mutex);
    return m_imagesUsed;
}

void UnsplashTask::requestImages()
{
    setDetail("Requesting images\u2026");
    const QUrl base(m_service.base, QUrl::StrictMode);
    std::optional<QUrl> search;
    if (base.isValid() && !base.isRelative())
        search = urlWithQuery("/search/photos",
                              {{"query", m_searchString},
                               {"page", "1"},
                               {"per_page", QString::number(UnsplashSearchResults::pageSize)}},
                              base);
    if (!search) {
        fail("Fetch failed.");
        return;
    }
    enterGroup();
    startRequest(*search, m_service.searchLimits, {}, &UnsplashTask::handleSearchResponse);
}

void UnsplashTask::handleSearchResponse(const HttpResponse &response)
{
    // A reply that beat the user's cancel starts no downloads.
    if (isCancelled()) {
        leaveGroup();
        return;
    }
    if (response.status == 429) {
        fail("Fetch failed: rate limit for Unsplash exceed. Please try again later.");
        leaveGroup();
        return;
    }
    std::optional<UnsplashSearchResults> reply;
    if (response.body) {
        QString why;
        reply = UnsplashSearchResults::decode(*response.body, &why);
        if (!reply)
            tasksLog().debug("Undecodable search reply: %{public}@", why);
    }
    if (!reply || reply->results.empty()) {
        failFetch(response.errorText);
        leaveGroup();
        return;
    }
    const std::vector<UnsplashSearchResultsImage> &images = reply->results;
    // Only a page of photos is fetched, however many the reply names.
    const std::size_t fetched =
        std::min(images.size(), std::size_t(UnsplashSearchResults::pageSize));
    addToTotalCount(2 * std::int64_t(fetched));
    postDidUpdate();
    {
        std::lock_guard lock(m_mutex);
        m_imagesUsed = images;
    }
    setDetail("Downloading images\u2026");
    for (std::size_t i = 0; i < fetched; ++i) {
        enterGroup();
        downloadImage(images[i]);
    }
    leaveGroup();
}

void UnsplashTask::downloadImage(const UnsplashSearchResultsImage &image)
{
    // Tells the service the photo is used; the reply does not matter.
    startRequest(image.links.download_location, m_service.pingLimits, {}, nullptr);
    const QString file = SystemPaths::current().temporaryDir + '/' + newUuidString() + ".jpg";
    startRequest(image.urls.regular, m_service.photoLimits, file,
                 [file](UnsplashTask &task, const HttpResponse &response) {
                     task.saveImage(response, file);
                 });
}

void UnsplashTask::saveImage(const HttpResponse &response, const QString &file)
{
    // Whatever happens here, the photo's file goes: the device keeps its own copy.
    const auto removeFile = qScopeGuard([&file] { QFile::remove(file); });
    if (isCancelled()) {
        leaveGroup();
        return;
    }
    if (response.fileFailed) {
        fail(failureText("Error saving image file", response.errorText));
        leaveGroup();
        return;
    }
    if (!response.body || response.status != 200) {
        failFetch(response.errorText);
        leaveGroup();
        return;
    }
    addToCompletedCount();
    postDidUpdate();
    // A page served in place of a photo would be added to the library as one.
    QFile photo(file);
    QString why = BoundedImage::unreadableText;
    if (!photo.open(QIODevice::ReadOnly) ||
        BoundedImage::read(photo, &why, photoCheckSize).isNull()) {
        failFetch(why);
        leaveGroup();
        return;
    }
    photo.close();
    // The device reports nothing useful when it refuses a file.
    m_device->addMediaFrom(QUrl::fromLocalFile(file));
    addToCompletedCount();
    postDidUpdate();
    leaveGroup();
}

void UnsplashTask::startRequest(const QUrl &url, const TransferLimits &limits,
                                const QString &bodyFile, ResponseStep step)
{
    HttpClient::Completion completion;
    if (step)
        completion = [weak = weakAs<UnsplashTask>(), step, bodyFile](const HttpResponse &response) {
            TaskManager::queue()->async([weak, step, bodyFile, response] {
                if (auto task = weak.lock())
                    step(*task, response);
                else if (!bodyFile.isEmpty())
                    QFile::remove(bodyFile);
            });
        };
    const HttpGet get{
        url,
        {{"Authorization", "Client-ID " + m_service.accessKey.toUtf8()}, {"Accept-Version", "v1"}},
        limits,
        bodyFile};
    auto request = m_client->get(get, std::move(completion));
    bool cancelled = false;
    {
        std::lock_guard lock(m_mutex);
        m_urlTasks.push_back(request);
        cancelled = isCancelled();
    }
    // Given up while this one was being sent: giveUp() did not see it.
    if (cancelled)
        request->cancel();
}

void UnsplashTask::giveUp()
{
    std::vector<std::shared_ptr<HttpRequest>> requests;
    {
        // The flag comes first: a photo whose request is stopped here must
        // find it set, or it would report the stop as a failed fetch.
        std::lock_guard lock(m_mutex);
        setCancelled(true);
        requests = m_urlTasks;
    }
    for (const auto &request : requests)
        request->cancel();
    postDidUpdate();
}

void UnsplashTask::cancel()
{
    giveUp();
}

void UnsplashTask::failFetch(const QString &error)
{
    fail(failureText("Fetch failed", error.isEmpty() ? "Unknown Error" : error));
}

void UnsplashTask::fail(const QString &text)
{
    tasksLog().error("%{public}@", text);
    setFailed(true);
    setDetail(text);
    giveUp();
}

void UnsplashTask::setDetail(const QString &text)
{
    setLocalisedDetailDescription(text);
    postDidUpdate();
}

void UnsplashTask::leaveGroup()
{
    if (m_group.fetch_sub(1) != 1)
        return;
    auto step = [weak = weakAs<UnsplashTask>()] {
        if (auto task = weak.lock())
            task->finish();
    };
    if (m_service.scheduleFinish)
        m_service.scheduleFinish(std::move(step));
    else
        TaskManager::queue()->asyncAfter(finishDelaySeconds, std::move(step));
}

void UnsplashTask::finish()
{
    if (isCancelled())
        return;
    setCompletedCount(totalCount());
    postDidUpdate();
    setCanInspect(true);
    postDidUpdate();
    setFinished(true);
    setDetail("Import completed.");
}

void UnsplashTask::reveal()
{
    const auto images = imagesUsed();
    if (!canInspect() || images.empty())
        return;
    const auto window = UnsplashResultsWindows::shared()->windowFor(images, taskIDString());
    Workspace::shared()->activateIgnoringOtherApps();
    window->showWindow();
}

} // namespace corvane
