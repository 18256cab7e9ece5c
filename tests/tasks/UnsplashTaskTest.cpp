#include "common/TestSupport.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "fixtures/http/HostileReplies.h"
#include "fixtures/http/LocalHttpServer.h"
#include "fixtures/http/UnsplashReplies.h"
#include "model/Device.h"
#include "platform/net/BoundedReply.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/WindowController.h"
#include "platform/desktop/Workspace.h"
#include "tasks/TaskManager.h"
#include "tasks/UnsplashResultsWindows.h"
#include "tasks/UnsplashTask.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace corvane;
using namespace corvane::fixture;
using namespace std::chrono_literals;

namespace {

const QString searchPath = "/search/photos";
const QString downloading = "Downloading images\u2026";

// What a task showed at one of its updates.
struct Snapshot {
    const Task *task = nullptr;
    QString detail;
    std::int64_t completed = 0;
    std::int64_t total = 0;
    bool canInspect = false;
    std::chrono::steady_clock::time_point at;
};

class RecordingResultsWindows : public UnsplashResultsWindows {
public:
    struct Window : AbsentWindowController {
        void showWindow() override { ++shown; }
        int shown = 0;
    };

    std::shared_ptr<WindowController>
    windowFor(const std::vector<UnsplashSearchResultsImage> &images, const QString &key) override
    {
        requests.emplace_back(images, key);
        return window;
    }

    std::vector<std::pair<std::vector<UnsplashSearchResultsImage>, QString>> requests;
    std::shared_ptr<Window> window = std::make_shared<Window>();
};

class UnsplashTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths::setCurrent(m_tree.paths());
        QDir().mkpath(m_tree.paths().temporaryDir);
        m_tree.addRuntime("iOS", "17.5");
        const QString udid =
            m_tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5", .booted = true});
        m_mediaDir = m_tree.devicesDir() + "/" + udid + "/data/Media/DCIM/100APPLE";
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_tree.addXcode()));
        m_device = Device::initFromListLine("iPhone 15 (" + udid + ") (Booted)",
                                            {Runtime::System::iOS, "17.5"}, m_toolset);
        ASSERT_TRUE(m_device);
        m_manager->setUnsplashService(service());
        Workspace::setShared(m_workspace);
        UnsplashResultsWindows::setShared(m_windows);

        m_observers.append(observeNotification<Task>(
            Task::didUpdate, nullptr, nullptr, [this](const Notification &, const TaskPtr &task) {
                std::lock_guard lock(m_mutex);
                m_updates.push_back({task.get(),
                                     task->localisedDetailDescription().value_or(QString()),
                                     task->completedCount(), task->totalCount(), task->canInspect(),
                                     std::chrono::steady_clock::now()});
            }));
        m_observers.append(observeNotification<TaskManager>(
            TaskManager::didCompleteTask, m_manager, nullptr,
            [this](const Notification &notification, const std::shared_ptr<TaskManager> &) {
                const TaskPtr task = TaskManager::task(notification.userInfo);
                std::lock_guard lock(m_mutex);
                if (!m_firstCompletion)
                    m_firstCompletion = {int(addedFiles().size()), m_scheduled.load(),
                                         task->completedCount(), task->totalCount()};
            }));
    }

    void TearDown() override
    {
        m_observers.removeAll();
        EXPECT_TRUE(test::waitUntil([&] { return m_finished == m_scheduled; }));
        EXPECT_TRUE(test::waitForBackgroundWork());
        UnsplashResultsWindows::setShared(nullptr);
        Workspace::setShared(nullptr);
        SystemPaths::resetToEnvironment();
    }

    // The finishing step runs at once, and is counted.
    UnsplashService service()
    {
        return {m_server.baseUrl().toString(), "test-access-key", m_client,
                [this](std::function<void()> step) {
                    ++m_scheduled;
                    TaskManager::queue()->async([this, step] {
                        step();
                        ++m_finished;
                    });
                }};
    }

    std::shared_ptr<UnsplashTask> start()
    {
        m_manager->startUnsplashTask("Nature", m_device);
        return std::dynamic_pointer_cast<UnsplashTask>(m_manager->tasks().back());
    }

    // Waits until the task is cancelled, or finished and counted: until the
    // update that shows "Import completed." was posted, the finishing step's
    // last, so that no completion of this task comes after.
    bool waitUntilOver(const std::shared_ptr<UnsplashTask> &task)
    {
        return test::waitUntil([&] {
            if (task->isCancelled())
                return true;
            std::lock_guard lock(m_mutex);
            return std::ranges::any_of(m_updates, [&](const Snapshot &update) {
                return update.task == task.get() && update.detail == "Import completed.";
            });
        });
    }

    // The pings that tell the service a photo is used: nothing waits for
    // them, so they may reach the server after the task has finished.
    bool waitForPings(int count) const
    {
        return test::waitUntil([&] {
            return m_server.requestedPaths().filter(QRegularExpression("/download$")).size() >=
                   count;
        });
    }

    // The files handed to the device, in order.
    QStringList addedFiles() const
    {
        QStringList files;
        for (const Invocation &invocation : m_tree.invocations())
            if (invocation.tool == "simctl" && invocation.arguments.value(0) == "addmedia")
                files.append(invocation.arguments.value(2));
        return files;
    }

    QStringList photoRequests() const
    {
        return m_server.requestedPaths().filter(QRegularExpression("regular\\.jpg$"));
    }

    void expectGaveUp(const std::shared_ptr<UnsplashTask> &task, const QString &text)
    {
        ASSERT_TRUE(waitUntilOver(task));
        ASSERT_TRUE(test::waitUntil([&] { return m_finished == 1; }));
        EXPECT_TRUE(task->isCancelled());
        EXPECT_TRUE(task->hasFailed());
        EXPECT_FALSE(task->hasFinished());
        // Finished: the busy status icon stops.
        EXPECT_FALSE(task->isActive());
        EXPECT_EQ(task->localisedDetailDescription(), text);
        EXPECT_FALSE(task->canInspect());
        task->reveal();
        EXPECT_TRUE(m_windows->requests.empty());
        EXPECT_EQ(temporaryFiles(), QStringList());
    }

    // Temporary files left behind.
    QStringList temporaryFiles() const
    {
        return QDir(m_tree.paths().temporaryDir).entryList(QDir::Files | QDir::Hidden);
    }

    LocalHttpServer m_server;
    FixtureTree m_tree;
    QString m_mediaDir;
    std::shared_ptr<Toolset> m_toolset;
    DevicePtr m_device;
    std::shared_ptr<HttpClient> m_client = HttpClient::makeNetworkClient();
    std::shared_ptr<TaskManager> m_manager = TaskManager::make();
    std::shared_ptr<RecordingWorkspace> m_workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<RecordingResultsWindows> m_windows =
        std::make_shared<RecordingResultsWindows>();
    std::atomic<int> m_scheduled{0};
    std::atomic<int> m_finished{0};

    struct FirstCompletion {
        int added;
        int scheduled;
        std::int64_t completed;
        std::int64_t total;
    };
    std::mutex m_mutex;
    std::vector<Snapshot> m_updates;
    std::optional<FirstCompletion> m_firstCompletion;
    ObserverCollection m_observers;
};

} // namespace

TEST_F(UnsplashTaskTest, ThreePhotosGoToTheDeviceAndTheResultCanBeShown)
{
    serveUnsplash(m_server, 3);
    UnsplashService service = this->service();
    service.scheduleFinish = nullptr; // the real pause
    m_manager->setUnsplashService(service);
    const auto fresh = UnsplashTask::make("Nature", m_device, service);
    EXPECT_EQ(fresh->localizedDescription(), "Unsplash \u201CNature\u201D - iPhone 15 - 17.5");
    EXPECT_EQ(fresh->localisedDetailDescription(), "Waiting to start download\u2026");

    const auto task = start();
    ASSERT_TRUE(waitUntilOver(task));
    EXPECT_FALSE(task->isCancelled());
    EXPECT_TRUE(task->hasFinished());
    EXPECT_EQ(task->totalCount(), 6);
    EXPECT_EQ(task->completedCount(), 6);
    EXPECT_TRUE(task->canInspect());
    EXPECT_EQ(task->imagesUsed().size(), 3u);

    // Requests: the search with its query, three pings, three photos, each
    // with both headers.
    ASSERT_TRUE(waitForPings(3));
    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 7);
    EXPECT_EQ(requests[0].path, searchPath);
    EXPECT_EQ(requests[0].query.queryItemValue("query"), "Nature");
    EXPECT_EQ(requests[0].query.queryItemValue("page"), "1");
    EXPECT_EQ(requests[0].query.queryItemValue("per_page"), "10");
    for (const auto &request : requests) {
        EXPECT_EQ(request.headers.value("authorization"), "Client-ID test-access-key");
        EXPECT_EQ(request.headers.value("accept-version"), "v1");
    }
    EXPECT_EQ(photoRequests().size(), 3);

    // Each photo as served, from a file of its own in the temporary folder,
    // removed once the device had it.
    const QStringList files = addedFiles();
    ASSERT_EQ(files.size(), 3);
    for (const QString &file : files) {
        EXPECT_EQ(QFileInfo(file).absolutePath(), m_tree.paths().temporaryDir);
        EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.jpg$")
                        .match(QFileInfo(file).fileName())
                        .hasMatch())
            << file.toStdString();
    }
    EXPECT_EQ(temporaryFiles(), QStringList());
    QList<QByteArray> added;
    for (const QString &file : QDir(m_mediaDir).entryList(QDir::Files))
        added.append(test::readFile(m_mediaDir + "/" + file));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(added.contains(unsplashPhoto(i))) << i;

    // Texts in order, the last after the pause that follows the last photo.
    std::lock_guard lock(m_mutex);
    QStringList texts;
    for (const Snapshot &update : m_updates)
        if (texts.isEmpty() || texts.last() != update.detail)
            texts.append(update.detail);
    EXPECT_EQ(texts, (QStringList{"Requesting images\u2026", downloading, "Import completed."}));
    const auto lastPhoto = std::find_if(m_updates.begin(), m_updates.end(),
                                        [](const Snapshot &s) { return s.completed == 6; });
    ASSERT_NE(lastPhoto, m_updates.end());
    EXPECT_GE(m_updates.back().at - lastPhoto->at, 1000ms);
    ASSERT_TRUE(m_firstCompletion);
    EXPECT_EQ(m_firstCompletion->added, 3);

    task->reveal();
    ASSERT_EQ(m_windows->requests.size(), 1u);
    EXPECT_EQ(m_windows->requests[0].first, task->imagesUsed());
    EXPECT_EQ(m_windows->requests[0].second, task->taskIDString());
    EXPECT_EQ(m_windows->window->shown, 1);
    const std::vector<RecordingWorkspace::Request> activated{{"activate", {}}};
    EXPECT_EQ(m_workspace->requests, activated);
}

TEST_F(UnsplashTaskTest, AFailedSearchGivesUpWithoutRequestingPhotos)
{
    QUrl closedPort;
    {
        LocalHttpServer gone;
        closedPort = gone.baseUrl();
    }
    const struct {
        const char *name;
        LocalHttpServer::Reply reply;
        QString text;
        QString base; // empty: the server
        std::chrono::milliseconds stall = 60s;
    } cases[] = {
        {"rate limit",
         {429, "Rate Limit Exceeded", "text/plain"},
         "Fetch failed: rate limit for Unsplash exceed. Please try again later."},
        {"no results",
         {200, R"({"total": 0, "total_pages": 0, "results": []})"},
         "Fetch failed: Unknown Error."},
        {"refused key",
         {401, R"({"errors": ["OAuth error: The access token is invalid"]})"},
         "Fetch failed: Unknown Error."},
        {"not JSON", {200, "<html>busy</html>", "text/html"}, "Fetch failed: Unknown Error."},
        {"no server", {}, "Fetch failed: Connection refused.", closedPort.toString()},
        // A server that takes the request and never answers: the request
        // ends when it has stalled as long as it may.
        {"hung server", {.held = true}, "Fetch failed: The request timed out.", {}, 1s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        m_server.setReply(searchPath, c.reply);
        UnsplashService service = this->service();
        if (!c.base.isEmpty())
            service.base = c.base;
        service.searchLimits.stallTimeout = c.stall;
        m_manager->setUnsplashService(service);
        m_scheduled = m_finished = 0;
        const QStringList before = m_server.requestedPaths();
        const auto started = std::chrono::steady_clock::now();
        const auto task = start();
        ASSERT_TRUE(waitUntilOver(task));
        // The transport may call a stalled request either way.
        const QString shown = task->localisedDetailDescription().value_or("");
        expectGaveUp(task, c.reply.held && shown == "Fetch failed: " + BoundedReply::tooSlowText
                               ? shown
                               : c.text);
        // Near its deadline, rather than at once or at the usual minute.
        if (c.reply.held)
            EXPECT_GE(std::chrono::steady_clock::now() - started, c.stall / 2);
        EXPECT_EQ(task->totalCount(), 0);
        EXPECT_EQ(m_server.requestedPaths().size(), before.size() + (c.base.isEmpty() ? 1 : 0));
    }
    EXPECT_TRUE(photoRequests().isEmpty());
    EXPECT_TRUE(addedFiles().isEmpty());

    // A base that is no URL sends nothing and has nothing to finish.
    UnsplashService service = this->service();
    service.base = "relative/base";
    m_manager->setUnsplashService(service);
    m_scheduled = m_finished = 0;
    const auto task = start();
    ASSERT_TRUE(waitUntilOver(task));
    EXPECT_EQ(task->localisedDetailDescription(), "Fetch failed.");
    EXPECT_TRUE(test::waitForBackgroundWork());
    EXPECT_EQ(m_scheduled, 0);
}

TEST_F(UnsplashTaskTest, APhotoThatFailsStopsTheOthers)
{
    serveUnsplash(m_server, 3);
    for (int i = 0; i < 3; ++i)
        m_server.setReply(unsplashPhotoPath(i), {.held = true});
    const auto task = start();
    ASSERT_TRUE(test::waitUntil([&] { return m_server.heldCount() == 3; }));
    m_server.release(unsplashPhotoPath(0), LocalHttpServer::Reply{404, "", "text/plain"});

    expectGaveUp(task, "Fetch failed: Unknown Error.");
    EXPECT_TRUE(test::waitUntil([&] { return m_server.abandonedPaths().size() == 2; }));
    EXPECT_TRUE(addedFiles().isEmpty());
    std::lock_guard lock(m_mutex);
    for (const Snapshot &update : m_updates)
        EXPECT_NE(update.detail, "Import completed.");
}

TEST_F(UnsplashTaskTest, PhotosThatCannotBeSavedOrAreNoWebAddressFail)
{
    // The folder for photos lies below a file: writing fails even as root.
    const QString blocker = m_tree.root() + "/blocker";
    ASSERT_TRUE(test::writeFile(blocker, "x"));
    SystemPaths paths = SystemPaths::current();
    paths.temporaryDir = blocker + "/tmp";
    SystemPaths::setCurrent(paths);
    serveUnsplash(m_server, 1);
    expectGaveUp(start(), "Error saving image file: Not a directory.");
    EXPECT_TRUE(addedFiles().isEmpty());

    // A reply naming a local file: the file is never read.
    SystemPaths::setCurrent(m_tree.paths());
    const QString secret = m_tree.root() + "/secret.jpg";
    ASSERT_TRUE(test::writeFile(secret, "private bytes"));
    QJsonObject reply =
        QJsonDocument::fromJson(unsplashSearchReply(m_server.baseUrl(), 1)).object();
    QJsonObject photo = reply["results"][0].toObject();
    QJsonObject urls = photo["urls"].toObject();
    urls["regular"] = QUrl::fromLocalFile(secret).toString();
    photo["urls"] = urls;
    reply["results"] = QJsonArray{photo};
    m_server.setReply(searchPath, {200, QJsonDocument(reply).toJson()});
    m_scheduled = m_finished = 0;
    expectGaveUp(start(), "Fetch failed: unsupported URL.");
    EXPECT_TRUE(addedFiles().isEmpty());
    for (const QString &file : QDir(m_tree.paths().temporaryDir).entryList(QDir::Files))
        EXPECT_NE(test::readFile(m_tree.paths().temporaryDir + "/" + file), "private bytes");
}

TEST_F(UnsplashTaskTest, CancellingStopsFurtherPhotosAndTheFinishChangesNothing)
{
    serveUnsplash(m_server, 3);
    m_server.setReply(unsplashPhotoPath(1), {.held = true});
    m_server.setReply(unsplashPhotoPath(2), {.held = true});
    const auto task = start();
    ASSERT_TRUE(test::waitUntil([&] {
        return m_server.heldCount() == 2 && task->completedCount() == 2 && addedFiles().size() == 1;
    }));
    task->cancel();
    ASSERT_TRUE(test::waitUntil([&] { return m_finished == 1; }));
    EXPECT_TRUE(test::waitUntil([&] { return m_server.abandonedPaths().size() == 2; }));
    EXPECT_EQ(m_scheduled, 1);
    EXPECT_EQ(addedFiles().size(), 1);
    EXPECT_TRUE(task->isCancelled());
    EXPECT_FALSE(task->hasFailed());
    EXPECT_EQ(task->localisedDetailDescription(), downloading);
    EXPECT_EQ(task->completedCount(), 2);
    EXPECT_EQ(task->totalCount(), 6);
    EXPECT_FALSE(task->canInspect());
    EXPECT_EQ(temporaryFiles(), QStringList());
}

TEST_F(UnsplashTaskTest, CountsStayExactWhenPhotosArriveTogether)
{
    // Ten photos answered at once (the network client would hold back all
    // but six to one host): the task completes only once the last of them is
    // on the device.
    const auto client = std::make_shared<RecordingHttpClient>();
    UnsplashService service = this->service();
    service.client = client;
    m_manager->setUnsplashService(service);
    auto task = start();
    ASSERT_TRUE(test::waitUntil([&] { return client->requests().size() == 1; }));
    client->complete(0, {200, unsplashSearchReply(m_server.baseUrl(), 10), {}});
    ASSERT_TRUE(test::waitUntil([&] { return client->requests().size() == 21; }));
    for (std::size_t i = 1; i < 21; ++i) {
        const int photo = int(i - 1) / 2;
        if (client->requests()[i].url.path() == unsplashPhotoPath(photo))
            client->complete(i, {200, unsplashPhoto(photo), {}});
    }
    ASSERT_TRUE(waitUntilOver(task));
    EXPECT_EQ(task->completedCount(), 20);
    EXPECT_EQ(task->totalCount(), 20);
    {
        std::lock_guard lock(m_mutex);
        ASSERT_TRUE(m_firstCompletion);
        EXPECT_EQ(m_firstCompletion->added, 10);
        EXPECT_EQ(m_firstCompletion->scheduled, 0);
        EXPECT_EQ(m_firstCompletion->completed, 20);
        m_firstCompletion.reset();
    }
    ASSERT_TRUE(test::waitUntil([&] { return m_finished == 1; }));
    m_manager->setUnsplashService(this->service());

    // Twelve results: all are used, ten are downloaded and counted, so the
    // bar is full once the tenth is on the device, before the finish.
    serveUnsplash(m_server, 12);
    m_server.setReply(unsplashPhotoPath(10), {500, ""});
    m_server.setReply(unsplashPhotoPath(11), {500, ""});
    m_scheduled = m_finished = 0;
    task = start();
    ASSERT_TRUE(waitUntilOver(task));
    EXPECT_FALSE(task->isCancelled());
    EXPECT_EQ(task->imagesUsed().size(), 12u);
    EXPECT_EQ(task->totalCount(), 20);
    EXPECT_EQ(task->completedCount(), 20);
    EXPECT_EQ(photoRequests().size(), 10);
    EXPECT_TRUE(waitForPings(10));
    EXPECT_EQ(m_server.requestedPaths().filter(QRegularExpression("/download$")).size(), 10);
    EXPECT_EQ(addedFiles().size(), 20);
    std::lock_guard lock(m_mutex);
    ASSERT_TRUE(m_firstCompletion);
    EXPECT_EQ(m_firstCompletion->added, 20);
    EXPECT_EQ(m_firstCompletion->scheduled, 0);
    EXPECT_EQ(m_firstCompletion->completed, 20);
}

TEST_F(UnsplashTaskTest, RepliesToATaskThatIsGoneChangeNothing)
{
    // Requests wait a minute for a stalled transfer, and nothing the client
    // holds keeps the task alive.
    const auto client = std::make_shared<RecordingHttpClient>();
    UnsplashService service = this->service();
    service.client = client;
    auto task = UnsplashTask::make("Nature", m_device, service);
    task->requestImages();
    ASSERT_EQ(client->requests().size(), 1u);
    EXPECT_EQ(client->requests()[0].limits.stallTimeout, 60000ms);
    const std::weak_ptr<UnsplashTask> weak = task;
    task.reset();
    EXPECT_TRUE(weak.expired());

    ASSERT_TRUE(client->complete(0, {200, unsplashSearchReply(m_server.baseUrl(), 3), {}}));
    EXPECT_TRUE(test::waitForBackgroundWork());
    EXPECT_EQ(client->requests().size(), 1u);
    EXPECT_EQ(m_scheduled, 0);
}

TEST_F(UnsplashTaskTest, HostileRepliesFailTheTaskWithinItsDeadlineAndLeaveNoFile)
{
    const qint64 peakBefore = test::peakResidentBytes();
    // Each case on a server of its own, the search or the photo hostile, all
    // at once. A slow one may take 3 s in all, far less than the 60 s it may stall.
    struct Case {
        std::unique_ptr<LocalHttpServer> server = std::make_unique<LocalHttpServer>();
        std::string name;
        QString text;
        std::shared_ptr<UnsplashTask> task;
    };
    using Kind = HostileReply::Kind;
    const std::map<Kind, QString> texts{{Kind::tooLarge, "The reply is too large."},
                                        {Kind::tooSlow, "The server took too long."},
                                        {Kind::imageTooLarge, "The image is too large."},
                                        {Kind::notAnImage, "The image could not be read."}};
    LocalHttpServer listing;
    const std::vector<HostileReply> hostiles = serveHostileReplies(listing);
    std::vector<Case> cases;
    for (const bool photo : {false, true}) {
        for (const HostileReply &hostile : hostiles) {
            if (hostile.isImage() && !photo)
                continue;
            Case c;
            c.name = std::string(photo ? "photo: " : "search: ") + hostile.name;
            serveUnsplash(*c.server, 1);
            c.server->setReply(photo ? unsplashPhotoPath(0) : searchPath, hostile.reply);
            c.text = "Fetch failed: " + texts.at(hostile.kind);
            UnsplashService service = this->service();
            service.base = c.server->baseUrl().toString();
            TransferLimits &limits = photo ? service.photoLimits : service.searchLimits;
            limits.stallTimeout = 60s;
            if (hostile.kind == Kind::tooSlow)
                limits.deadline = 3s;
            m_manager->setUnsplashService(service);
            c.task = start();
            cases.push_back(std::move(c));
        }
    }
    ASSERT_TRUE(test::waitUntil([&] {
        return std::all_of(cases.begin(), cases.end(),
                           [](const Case &c) { return c.task->isCancelled(); });
    }));
    for (const Case &c : cases)
        EXPECT_EQ(c.task->localisedDetailDescription(), c.text) << c.name;
    EXPECT_TRUE(test::waitUntil([&] { return m_finished == int(cases.size()); }));
    EXPECT_TRUE(addedFiles().isEmpty());
    EXPECT_EQ(temporaryFiles(), QStringList());
    if (test::peakResidentBytesTellUse)
        EXPECT_LT(test::peakResidentBytes() - peakBefore, test::hostileRepliesPeakGrowth);
}
