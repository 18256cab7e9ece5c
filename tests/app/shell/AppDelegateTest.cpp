#include "app/ShellTestSupport.h"
#include "app/menus/CommandManager.h"
#include "app/menus/root/RecordingDevices.h"
#include "app/menus/root/RootMenu.h"
#include "app/menus/root/RootPlaceholderMenu.h"
#include "app/shell/Animator.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainMenuUpdator.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "fixtures/DemoTree.h"
#include "fixtures/FixtureTree.h"
#include "location/LastLocationsStore.h"
#include "model/DeviceWatcher.h"
#include "platform/menus/ActionTarget.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/processes/ChildProcess.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/files/PendingSaves.h"
#include "platform/desktop/SettingsOpener.h"
#include "platform/desktop/WindowController.h"
#include "preferences/BuildConfig.h"
#include "preferences/CrashReporter.h"
#include "settings/SettingsWindowController.h"
#include "settings/WidgetPane.h"
#include "shortcuts/ShortcutValidator.h"
#include "shortcuts/ShortcutViewModel.h"
#include "tasks/ArchiveTask.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/TaskJournal.h"
#include "tasks/TaskManager.h"
#include "tasks/TaskTestSupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

const QString kRecordingDidChange = "com.quendrith.corvane.device.recordingdidchange";

TaskPtr countedTask(std::int64_t total, std::int64_t completed)
{
    auto task = std::make_shared<Task>();
    task->setTotalCount(total);
    task->setCompletedCount(completed);
    return task;
}

// A build that waits for its gate, so that tests decide when it finishes.
class GatedFactory {
public:
    RootMenuFactory factory()
    {
        return [this](const QString &title) {
            const int call = m_calls.fetch_add(1);
            m_gates[call].wait();
            auto menu = std::make_shared<Menu>(title + " " + QString::number(call));
            ++finished;
            return menu;
        };
    }
    void release(int call) { m_gates[call].signal(); }
    ~GatedFactory()
    {
        for (auto &gate : m_gates)
            gate.signal();
    }
    int calls() const { return m_calls.load(); }
    std::atomic<int> finished{0};

private:
    std::atomic<int> m_calls{0};
    DispatchSemaphore m_gates[4];
};

class FakeDevice : public Object {
public:
    std::atomic<bool> recording{false};
    std::shared_ptr<ChildProcess> process;
    std::atomic<int> interrupts{0};
};

class FakeRecordingDevices : public RecordingDevices {
public:
    bool isDevice(const ObjectPtr &object) const override
    {
        return std::dynamic_pointer_cast<FakeDevice>(object) != nullptr;
    }
    bool isRecording(const ObjectPtr &object) const override
    {
        auto device = std::dynamic_pointer_cast<FakeDevice>(object);
        return device && (device->recording || (device->process && device->process->isRunning()));
    }
    std::vector<ObjectPtr> listedDevices() const override { return listed; }
    void interruptRecording(const ObjectPtr &object) override
    {
        auto device = std::dynamic_pointer_cast<FakeDevice>(object);
        ++device->interrupts;
        if (device->process)
            device->process->interrupt();
    }
    std::vector<ObjectPtr> listed;
};

class RepeatTarget : public ActionTarget {
public:
    RepeatTarget()
    {
        addAction("repeat:", [this](const ObjectPtr &) {
            onMain = DispatchQueue::isMainThread();
            ++performed;
        });
    }
    std::atomic<int> performed{0};
    std::atomic<bool> onMain{false};
};

class FakeSettingsWindow : public SettingsWindowController {
public:
    FakeSettingsWindow()
        : SettingsWindowController(
              QList<SettingsPane *>{new WidgetPane({"general"}, "General", QIcon(), new QWidget)})
    {
    }
    void showPane(const std::optional<Settings::PaneIdentifier> &pane) override
    {
        panes.push_back(pane ? pane->rawValue : "none");
    }
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool value) override { staysOnTop = value; }
    void raise() override { ++raises; }
    void focusContent() override { ++focuses; }
    QStringList panes;
    bool staysOnTop = false;
    int raises = 0;
    int focuses = 0;
};

class AppDelegateTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        statusItem = std::make_shared<CountingStatusItem>();
        devices = std::make_shared<FakeRecordingDevices>();
        commands = CommandManager::make();
    }

    std::shared_ptr<AppDelegate> makeDelegate(RootMenuFactory factory = {})
    {
        AppDelegate::Environment environment;
        environment.statusItem = statusItem;
        environment.recordingDevices = devices;
        environment.commandManager = commands;
        environment.rootMenuFactory =
            factory ? factory : [](const QString &title) { return std::make_shared<Menu>(title); };
        environment.taskWindow = [this] { return taskWindow; };
        environment.recoverTasks = recoverTasks;
        environment.taskQuitLimit = taskQuitLimit;
        environment.saveQuitLimit = saveQuitLimit;
        environment.makeFinishingWindow = [this] {
            // What the window lists as it comes up: each running task's step.
            for (const auto &task : TaskManager::shared()->runningTasks())
                finishingSteps << task->localisedDetailDescription().value_or("");
            return std::make_shared<AbsentWindowController>();
        };
        return AppDelegate::make(environment);
    }

    void postRecording(const std::shared_ptr<Object> &object, bool recording)
    {
        NotificationCenter::defaultCenter().post(kRecordingDidChange, object,
                                                 {{"isRecording", recording}});
        DispatchQueue::drainMain();
    }

    std::shared_ptr<CountingStatusItem> statusItem;
    std::shared_ptr<FakeRecordingDevices> devices;
    std::shared_ptr<CommandManager> commands;
    struct TaskWindow : AbsentWindowController {
        void showWindow() override { ++shown; }
        int shown = 0;
    };
    std::shared_ptr<TaskWindow> taskWindow = std::make_shared<TaskWindow>();
    QStringList finishingSteps;
    std::function<void()> recoverTasks = [] {};
    std::chrono::milliseconds taskQuitLimit = 10s;
    std::chrono::milliseconds saveQuitLimit = 10s;
};

// An alert that stays open, in its own event loop as a modal dialog does,
// until it is closed (or, should nothing close it, for a minute).
class ModalAlertPresenter : public AlertPresenter {
public:
    AlertResponse run(const AlertSpec &) override
    {
        QEventLoop loop;
        open = &loop;
        ++opened;
        QTimer::singleShot(60s, &loop, &QEventLoop::quit);
        loop.exec();
        open = nullptr;
        return {};
    }
    void closeOpenAlerts() override
    {
        if (open)
            open->quit();
    }
    QEventLoop *open = nullptr;
    int opened = 0;
};

} // namespace

TEST_F(AppDelegateTest, LaunchShowsThePlaceholderAtOnceAndInstallsTheBuiltMenu)
{
    GatedFactory builds;
    auto delegate = makeDelegate(builds.factory());
    delegate->applicationWillFinishLaunching();
    ASSERT_EQ(distributed->posted().size(), 1u);
    EXPECT_EQ(distributed->posted()[0].name, "com.quendrith.corvane.shouldKillLauncher");
    EXPECT_EQ(distributed->posted()[0].object, "com.quendrith.corvane");

    delegate->applicationDidFinishLaunching();
    auto placeholder = std::dynamic_pointer_cast<RootPlaceholderMenu>(statusItem->menu());
    ASSERT_TRUE(placeholder);
    EXPECT_EQ(placeholder->title(), "Corvane");
    EXPECT_EQ(delegate->statusMenu(), nullptr);
    EXPECT_TRUE(statusItem->isVisible());
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon"));
    // Shown with its icon, so that the tray has something to show.
    EXPECT_EQ(statusItem->iconWhenShown, ImageRef::resource("statusIcon"));
    EXPECT_EQ(binder->log, (QStringList{"bind DeleteDerivedData", "bind GlobalRedo"}));

    auto events = std::make_shared<MenuEvents>();
    placeholder->setObserver(events);
    builds.release(0);
    ASSERT_TRUE(waitUntil([&] { return delegate->statusMenu() != nullptr; }));
    EXPECT_EQ(delegate->statusMenu()->title(), "Corvane 0");
    EXPECT_EQ(statusItem->menu(), delegate->statusMenu());
    EXPECT_EQ(events->cancels, 1);
}

TEST_F(AppDelegateTest, OnlyTheNewestOfOverlappingBuildsIsInstalled)
{
    GatedFactory builds;
    auto delegate = makeDelegate(builds.factory());
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return builds.calls() == 1; }));
    // A change announced while the first build runs is judged when it lands:
    // a menu that cannot tell what it was built for is built again.
    NotificationCenter::defaultCenter().post(ToolsetManager::currentDidChange);
    pumpFor(50ms);
    EXPECT_EQ(builds.calls(), 1);
    builds.release(0);
    ASSERT_TRUE(waitUntil([&] { return builds.calls() == 2; }));
    EXPECT_EQ(delegate->statusMenu(), nullptr);

    // Later changes start a build at once, while the previous one still runs.
    NotificationCenter::defaultCenter().post(ToolsetManager::currentDidChange);
    ASSERT_TRUE(waitUntil([&] { return builds.calls() == 3; }));
    builds.release(2);
    ASSERT_TRUE(waitUntil([&] { return delegate->statusMenu() != nullptr; }));
    EXPECT_EQ(delegate->statusMenu()->title(), "Corvane 2");
    builds.release(1);
    ASSERT_TRUE(waitUntil([&] { return builds.finished == 3; }));
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(delegate->statusMenu()->title(), "Corvane 2");
    EXPECT_EQ(statusItem->menu(), delegate->statusMenu());
}

// The first build makes the toolset manager, whose first choice is announced
// while that build runs: the menu it lands is already the current one.
TEST_F(AppDelegateTest, LaunchOnTheDemoListsTheDevicesOnce)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("demo");
    QString error;
    ASSERT_TRUE(fixture::layOutDemo(root, &error)) << error.toStdString();
    fixture::FixtureTree tree(root);
    struct Cleanup {
        ~Cleanup()
        {
            ToolsetManager::resetShared();
            ToolsetManager::setDeviceWatcherFactory(nullptr);
        }
    } cleanup;
    SystemPaths paths = tree.paths();
    paths.configDir = SystemPaths::current().configDir;
    SystemPaths::setCurrent(paths);
    DeviceWatcher::installAsToolsetWatcherFactory();
    Log::Capture capture;

    AppDelegate::Environment environment;
    environment.statusItem = statusItem;
    auto delegate = AppDelegate::make(environment);
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return delegate->statusMenu() != nullptr; }, 60s));
    const MenuPtr installed = delegate->statusMenu();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(capture.count("11 devices listed"), 1);
    EXPECT_EQ(delegate->statusMenu(), installed);
    // An announcement that changes nothing keeps the menu.
    NotificationCenter::defaultCenter().post(ToolsetManager::currentDidChange);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(delegate->statusMenu(), installed);

    // A real change still rebuilds.
    const QStringList xcodes = tree.xcodes().filter("Xcode-beta.app");
    ASSERT_EQ(xcodes.size(), 1);
    tree.selectXcode(xcodes[0]);
    ASSERT_TRUE(waitUntil(
        [&] { return delegate->statusMenu() && delegate->statusMenu() != installed; }, 60s));
    ASSERT_TRUE(waitForBackgroundWork());
}

// A toolset that cannot be found in time leaves "Loading…" for the menu
// without one, with a line naming the tool, and is looked for again at the
// next change.
TEST_F(AppDelegateTest, AnXcodeSelectThatNeverAnswersLeavesLoadingWithinTheDeadline)
{
    fixture::FixtureTree tree;
    const QString elsewhere = tree.root() + "/Elsewhere";
    tree.selectXcode(tree.addXcode({.location = elsewhere}));
    tree.setFault("xcode-select", {.hang = true});
    struct Cleanup {
        ~Cleanup()
        {
            ToolsetManager::resetShared();
            setToolProcessTimeout(10s);
        }
    } cleanup;
    SystemPaths paths = tree.paths();
    paths.configDir = SystemPaths::current().configDir;
    SystemPaths::setCurrent(paths);
    setToolProcessTimeout(2s);
    Log::Capture capture;

    AppDelegate::Environment environment;
    environment.statusItem = statusItem;
    auto delegate = AppDelegate::make(environment);
    const auto started = std::chrono::steady_clock::now();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return delegate->statusMenu() != nullptr; }, 60s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s + 20s);
    const auto menu = std::dynamic_pointer_cast<RootMenu>(delegate->statusMenu());
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->toolset());
    menu->update();
    QStringList shown;
    for (const auto &item : menu->items())
        if (!item->isHidden())
            shown << item->title();
    EXPECT_TRUE(shown.contains("Select an Xcode…"));
    EXPECT_TRUE(shown.contains("Not Seeing Any Devices?"));
    EXPECT_TRUE(capture.contains("xcode-select did not answer within 2 seconds"));

    tree.clearFaults();
    tree.selectXcode(tree.addXcode({.name = "Xcode-beta.app", .location = elsewhere}));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto root = std::dynamic_pointer_cast<RootMenu>(delegate->statusMenu());
            return root && root->toolset();
        },
        60s));
    ASSERT_TRUE(waitForBackgroundWork());
}

TEST_F(AppDelegateTest, RecordingShowsADeviceThatStillRecords)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    auto a = std::make_shared<FakeDevice>();
    auto b = std::make_shared<FakeDevice>();
    devices->listed = {a, b};

    a->recording = true;
    postRecording(a, true);
    EXPECT_EQ(delegate->recordingDevice(), a);
    b->recording = true;
    postRecording(b, true);
    EXPECT_EQ(delegate->recordingDevice(), b);
    b->recording = false;
    postRecording(b, false);
    EXPECT_EQ(delegate->recordingDevice(), a);
    ASSERT_TRUE(delegate->statusItemAnimator());
    EXPECT_EQ(delegate->statusItemAnimator()->frames().front(),
              ImageRef::resource("recordingIcon-1"));

    const size_t icons = statusItem->icons.size();
    postRecording(std::make_shared<Object>(), false);
    EXPECT_EQ(delegate->recordingDevice(), a);
    EXPECT_EQ(statusItem->icons.size(), icons);

    a->recording = false;
    postRecording(a, false);
    EXPECT_EQ(delegate->recordingDevice(), nullptr);
    EXPECT_EQ(delegate->statusItemAnimator(), nullptr);
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon"));
}

TEST_F(AppDelegateTest, QuittingInterruptsEveryRecordingOnceAndStopsPlayback)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    std::vector<std::shared_ptr<FakeDevice>> recording;
    for (int i = 0; i < 2; ++i) {
        auto device = std::make_shared<FakeDevice>();
        device->process = std::make_shared<ChildProcess>();
        device->process->setExecutablePath("/bin/sleep");
        device->process->setArguments({"30"});
        offMain([&] { device->process->launch(); });
        recording.push_back(device);
    }
    auto idle = std::make_shared<FakeDevice>();
    devices->listed = {idle, recording[0], recording[1]};
    postRecording(recording[0], true);
    playRoute();
    ASSERT_EQ(LocationSimulator::shared()->playbackState(),
              LocationSimulator::PlaybackStatus::playing);

    std::atomic<int> statusChanges{0};
    auto token = NotificationCenter::defaultCenter().addObserver(
        LocationSimulator::statusChanged, nullptr, nullptr,
        [&](const Notification &) { ++statusChanges; });
    delegate->applicationWillTerminate();
    NotificationCenter::defaultCenter().removeObserver(token);

    EXPECT_EQ(statusChanges, 1);
    EXPECT_EQ(LocationSimulator::shared()->playbackState(),
              LocationSimulator::PlaybackStatus::stopped);
    EXPECT_EQ(idle->interrupts, 0);
    for (const auto &device : recording) {
        EXPECT_EQ(device->interrupts, 1);
        ASSERT_TRUE(device->process->waitUntilExit(5s));
        const auto termination = device->process->termination();
        ASSERT_TRUE(termination);
        EXPECT_EQ(termination->reason, ChildProcess::TerminationReason::UncaughtSignal);
        EXPECT_EQ(termination->status, SIGINT);
    }
}

TEST_F(AppDelegateTest, LaunchUndoesKilledTasksOnceBeforeAnyRootMenuIsBuilt)
{
    std::atomic<int> recoveries{0};
    recoverTasks = [&] {
        std::this_thread::sleep_for(50ms);
        ++recoveries;
    };
    std::mutex mutex;
    std::vector<int> seenByBuilds;
    auto delegate = makeDelegate([&](const QString &title) {
        std::lock_guard lock(mutex);
        seenByBuilds.push_back(recoveries);
        return std::make_shared<Menu>(title);
    });
    delegate->applicationDidFinishLaunching();
    delegate->rebuildStatusMenu();
    ASSERT_TRUE(waitUntil([&] { return delegate->statusMenu() != nullptr; }));
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(recoveries, 1);
    EXPECT_EQ(seenByBuilds, std::vector<int>({1, 1}));
}

TEST_F(AppDelegateTest, QuittingCancelsRunningTasksAndWaitsForThemAtMostTheLimit)
{
    // Room for a loaded machine between the quick clean-up and the limit.
    taskQuitLimit = 1500ms;
    auto delegate = makeDelegate();
    // One task cleans up within the limit, the other is left to the next start.
    for (const std::chrono::milliseconds cleanUp : {100ms, 10000ms}) {
        const auto task = std::make_shared<Task>();
        std::atomic<bool> ended{false};
        TaskManager::shared()->start(task, [&, task, cleanUp] {
            while (!task->isCancelled())
                std::this_thread::sleep_for(1ms);
            const auto until = std::chrono::steady_clock::now() + cleanUp;
            while (std::chrono::steady_clock::now() < until && !ended)
                std::this_thread::sleep_for(1ms);
            ended = true;
        });
        const auto started = std::chrono::steady_clock::now();
        delegate->applicationWillTerminate();
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_TRUE(task->isCancelled());
        EXPECT_EQ(ended.exchange(true), cleanUp < taskQuitLimit);
        EXPECT_EQ(waited >= taskQuitLimit, cleanUp > taskQuitLimit);
        ASSERT_TRUE(waitUntil([] { return TaskManager::shared()->runningTasks().empty(); }));
        TaskManager::shared()->remove(task);
    }
    EXPECT_NE(std::find(statusItem->icons.begin(), statusItem->icons.end(),
                        ImageRef::resource("statusIcon-2")),
              statusItem->icons.end());
}

// A cancelled task's alert (a refused archive, kept backups) comes up while
// quitting waits: it may stay until the limit, which it cannot stretch.
TEST_F(AppDelegateTest, AnAlertOpenWhileQuittingWaitsIsClosedAtTheLimit)
{
    taskQuitLimit = 1000ms;
    auto alerts = std::make_shared<ModalAlertPresenter>();
    AlertPresenter::setShared(alerts);
    auto delegate = makeDelegate();
    const auto task = std::make_shared<Task>();
    TaskManager::shared()->start(task, [task] {
        while (!task->isCancelled())
            std::this_thread::sleep_for(1ms);
        DispatchQueue::main()->async([] { AlertPresenter::shared()->run({}); });
    });
    const auto started = std::chrono::steady_clock::now();
    delegate->applicationWillTerminate();
    const auto waited = std::chrono::steady_clock::now() - started;
    AlertPresenter::setShared(nullptr);

    // Well before the alert's own minute: it was closed.
    EXPECT_EQ(alerts->opened, 1);
    EXPECT_GE(waited, taskQuitLimit);
    EXPECT_LT(waited, 30s);
    ASSERT_TRUE(waitUntil([] { return TaskManager::shared()->runningTasks().empty(); }));
    TaskManager::shared()->remove(task);
}

// The route is saved off the main thread; quitting at once still leaves it
// in the file, not the one before.
TEST_F(AppDelegateTest, QuittingRightAfterLoadingALargeRouteLeavesItInTheFile)
{
    saveQuitLimit = 120s;
    const auto store = std::make_shared<LastLocationsStore>(path("support/LastLocations.json"));
    ASSERT_TRUE(store->save({Location(1, 1), Location(2, 2)}));
    LocationSimulator::Environment environment;
    environment.store = store;
    LocationSimulator::setShared(LocationSimulator::make(environment));
    auto delegate = makeDelegate();
    std::vector<Location> large;
    for (int i = 0; i < 400000; ++i)
        large.push_back(Location::coordinateOnly(i * 1e-6, -i * 1e-6, 1600000000 + i));
    LocationSimulator::shared()->useWithLocations(large);

    delegate->applicationWillTerminate();
    EXPECT_EQ(PendingSaves::count(), 0);
    EXPECT_EQ(store->load(), large);
}

TEST_F(AppDelegateTest, QuittingWaitsForPendingSavesAtMostTheLimit)
{
    saveQuitLimit = 300ms;
    auto delegate = makeDelegate();
    auto pending = PendingSaves::begin();
    Log::Capture log;
    const auto started = std::chrono::steady_clock::now();
    delegate->applicationWillTerminate();
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, saveQuitLimit);
    EXPECT_LT(waited, 30s);
    EXPECT_TRUE(log.contains("Quitting with 1 save(s) still being written"));
}

TEST_F(AppDelegateTest, QuittingDuringAnArchiveTaskLeavesNothingBesideTheArchiveOrTheContainers)
{
    fixture::FixtureTree tree;
    SystemPaths::setCurrent(tree.paths());
    QDir().mkpath(tree.paths().temporaryDir);
    tree.addRuntime("iOS", "17.5");
    const QString udid =
        tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5", .booted = true});
    const auto toolset = Toolset::make(QUrl::fromLocalFile(tree.addXcode()));
    ASSERT_TRUE(toolset);
    const auto device = Device::initFromListLine("iPhone 15 (" + udid + ") (Booted)",
                                                 {Runtime::System::iOS, "17.5"}, toolset);
    const fixture::AppInstall install =
        tree.installApp(udid, {.identifier = "com.example.demo", .name = "Demo"});
    const auto application =
        Application::make(QUrl::fromLocalFile(install.bundlePath + "/"), device, toolset);
    ASSERT_TRUE(application);
    for (int file = 0; file < 40; ++file)
        ASSERT_TRUE(writeFile(install.dataContainer + "/Documents/" + QString::number(file),
                              QByteArray(1000, char('a' + file % 26))));
    const QString archive = tree.root() + "/exports/Demo.xcappdata";
    const auto exported =
        TaskManager::shared()->startExport(application, QUrl::fromLocalFile(archive));
    ASSERT_TRUE(waitUntil([&] { return TaskManager::shared()->runningTasks().empty(); }));
    ASSERT_EQ(exported->localisedDetailDescription(), "Data export completed.");
    const std::string dataExported = snapshot(install.dataContainer);
    ASSERT_TRUE(writeFile(install.dataContainer + "/Documents/0", "changed"));
    const std::string archiveBefore = snapshot(archive);
    const std::string dataBefore = snapshot(install.dataContainer);

    taskQuitLimit = 30s;
    auto delegate = makeDelegate();
    // Halfway through its copies a task is undone; once an import is noted
    // as done, it finishes, and quitting shows that it waits for it.
    const struct {
        const char *name;
        bool importing;
        const char *heldAt;
    } cases[] = {{"export", false, nullptr},
                 {"import", true, nullptr},
                 {"import finishing", true, "Finishing the import…"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QUrl url = QUrl::fromLocalFile(archive);
        TaskPtr task;
        std::function<void()> body;
        if (c.importing) {
            auto importTask = std::make_shared<ImportTask>(application);
            body = [importTask, url] {
                importTask->run(ArchiveTask::containersOf(*importTask->application()), url);
            };
            task = importTask;
        } else {
            auto exportTask = std::make_shared<ExportTask>(application);
            body = [exportTask, url] {
                exportTask->run(ArchiveTask::containersOf(*exportTask->application()), url);
            };
            task = exportTask;
        }
        // The task stops halfway until the quit cancels it, or where it is
        // held for a while after the quit.
        std::atomic<bool> halfway{false};
        task->observeDidUpdate(nullptr, [&halfway, &c](const TaskPtr &updated) {
            if ((c.heldAt ? updated->localisedDetailDescription() != c.heldAt
                          : updated->completedCount() != 20) ||
                halfway.exchange(true))
                return;
            while (!updated->isCancelled())
                std::this_thread::sleep_for(1ms);
            if (c.heldAt)
                std::this_thread::sleep_for(1s);
        });
        finishingSteps.clear();
        TaskManager::shared()->start(task, body);
        ASSERT_TRUE(waitUntil([&] { return halfway.load(); }));
        delegate->applicationWillTerminate();

        EXPECT_TRUE(TaskManager::shared()->runningTasks().empty());
        EXPECT_TRUE(task->isCancelled());
        EXPECT_EQ(snapshot(archive), archiveBefore);
        // Shown once, with the step.
        if (c.heldAt)
            EXPECT_EQ(finishingSteps, QStringList{c.heldAt});
        EXPECT_EQ(task->hasFinished(), c.heldAt != nullptr);
        // A copy stops at the next entry.
        if (!c.heldAt)
            EXPECT_EQ(task->completedCount(), 20);
        EXPECT_EQ(snapshot(install.dataContainer), c.heldAt ? dataExported : dataBefore);
        EXPECT_EQ(hiddenEntries(tree.root() + "/exports"), QStringList());
        EXPECT_EQ(hiddenEntries(QFileInfo(install.dataContainer).path()), QStringList());
        EXPECT_TRUE(TaskJournal::current().entries().empty());
        TaskManager::shared()->remove(task);
    }
    TaskManager::shared()->remove(exported);
    SystemPaths::resetToEnvironment();
}

TEST_F(AppDelegateTest, TaskFramesLoopFromTheSecondAndTheLastReasonRestoresTheIcon)
{
    auto delegate = makeDelegate();
    auto task = countedTask(5, 5);
    TaskManager::shared()->add(task);
    delegate->updateStatusIcon();
    EXPECT_EQ(delegate->statusItemAnimator(), nullptr);
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon"));

    task->setCompletedCount(4);
    delegate->updateStatusIcon();
    Animator *animator = delegate->statusItemAnimator();
    ASSERT_TRUE(animator);
    EXPECT_TRUE(animator->isRunning());
    EXPECT_DOUBLE_EQ(animator->interval(), 1.0 / 15.0);
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon-2"));
    for (int frame = 3; frame <= 24; ++frame) {
        animator->tick();
        EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon-" + QString::number(frame)));
    }
    animator->tick();
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon-1"));
    animator->tick();
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon-2"));

    task->setCompletedCount(5);
    delegate->updateStatusIcon();
    EXPECT_EQ(delegate->statusItemAnimator(), nullptr);
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon"));

    // A task with nothing to count is unfinished.
    TaskManager::shared()->add(countedTask(0, 0));
    delegate->updateStatusIcon();
    EXPECT_TRUE(delegate->statusItemAnimator());
}

TEST_F(AppDelegateTest, PlaybackFramesGoOnWhenARecordingStartsLater)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    playRoute();
    DispatchQueue::drainMain();
    ASSERT_TRUE(delegate->statusItemAnimator());
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon-GPS-2"));

    auto device = std::make_shared<FakeDevice>();
    device->recording = true;
    postRecording(device, true);
    ASSERT_TRUE(delegate->statusItemAnimator());
    EXPECT_EQ(delegate->statusItemAnimator()->frames().front(),
              ImageRef::resource("statusIcon-GPS-1"));

    LocationSimulator::shared()->toggle();
    DispatchQueue::drainMain();
    EXPECT_TRUE(delegate->statusItemAnimator());
    device->recording = false;
    postRecording(device, false);
    EXPECT_EQ(delegate->statusItemAnimator(), nullptr);
    EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon"));
}

TEST_F(AppDelegateTest, ARouteRestoredAtLaunchEnablesThePlayItemBeforeAnyGPSWindow)
{
    LocationSimulator::Environment environment;
    environment.store = std::make_shared<LastLocationsStore>(path("LastLocations.json"));
    ASSERT_TRUE(environment.store->save({Location(1, 1), Location(2, 2)}));
    LocationSimulator::setShared(LocationSimulator::make(environment));
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([] {
        DispatchQueue::drainMain();
        return LocationSimulator::shared()->playbackEnabled();
    }));
    EXPECT_TRUE(delegate->menuUpdator()->playbackMenuItemEnabled());
}

TEST_F(AppDelegateTest, TaskNotificationsOfOtherObjectsAreIgnored)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    NotificationCenter::defaultCenter().post(TaskManager::didAddTask, std::make_shared<Object>());
    DispatchQueue::drainMain();
    EXPECT_TRUE(workspace->requests.empty());
    EXPECT_EQ(taskWindow->shown, 0);

    TaskManager::shared()->add(countedTask(2, 0));
    DispatchQueue::drainMain();
    EXPECT_EQ(workspace->requests.size(), 1u);
    EXPECT_EQ(taskWindow->shown, 1);
    EXPECT_TRUE(delegate->statusItemAnimator());
}

TEST_F(AppDelegateTest, TheIconFollowsRealTaskCountsThroughCompletionAndRemoval)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    auto manager = TaskManager::shared();
    auto running = countedTask(2, 1);
    manager->add(running);
    DispatchQueue::drainMain();
    EXPECT_TRUE(delegate->statusItemAnimator());

    running->setCompletedCount(2);
    running->postDidUpdate();
    DispatchQueue::drainMain();
    EXPECT_EQ(delegate->statusItemAnimator(), nullptr);

    // A task that stopped with work left is finished: the icon stops at once,
    // not when the task is removed.
    const struct {
        const char *name;
        std::int64_t total, completed;
        bool failed;
    } stopped[] = {
        {"a search that failed and gave up", 0, 0, true},
        {"an export that failed halfway", 4, 2, true},
        {"an import cancelled halfway", 4, 2, false},
        {"an import turned away", 0, 0, false},
    };
    for (const auto &c : stopped) {
        SCOPED_TRACE(c.name);
        auto given = countedTask(c.total, c.completed);
        manager->add(given);
        DispatchQueue::drainMain();
        EXPECT_TRUE(delegate->statusItemAnimator());
        if (c.failed) {
            given->setFailed(true);
            given->postDidUpdate();
        }
        if (!c.failed || c.total == 0)
            given->cancel();
        DispatchQueue::drainMain();
        EXPECT_EQ(delegate->statusItemAnimator(), nullptr);
        EXPECT_EQ(statusItem->icon(), ImageRef::resource("statusIcon"));
        manager->remove(given);
    }
}

TEST_F(AppDelegateTest, RedoHotKeyRepeatsTheNewestLiveCommandOffMain)
{
    auto delegate = makeDelegate();
    auto live = std::make_shared<RepeatTarget>();
    commands->recordCommand("Erase", live, "repeat:");
    {
        auto gone = std::make_shared<RepeatTarget>();
        commands->recordCommand("Boot", gone, "repeat:");
    }
    delegate->redoHotKey();
    delegate->redoHotKey();
    ASSERT_TRUE(waitUntil([&] { return live->performed == 2; }));
    EXPECT_FALSE(live->onMain);
    EXPECT_EQ(statusItem->highlights, 1);
    EXPECT_TRUE(statusItem->isHighlighted());
    EXPECT_TRUE(waitUntil([&] { return !statusItem->isHighlighted(); }));

    auto mainOnly = std::make_shared<RepeatTarget>();
    CommandManager::Command toggle{"Play", mainOnly, "repeat:", std::nullopt, {}, true};
    commands->recordCommand(toggle);
    delegate->redoHotKey();
    ASSERT_TRUE(waitUntil([&] { return mainOnly->performed == 1; }));
    EXPECT_TRUE(mainOnly->onMain);
}

TEST_F(AppDelegateTest, RedoHotKeyWithoutALiveTargetLeavesTheIcon)
{
    auto delegate = makeDelegate();
    {
        auto gone = std::make_shared<RepeatTarget>();
        commands->recordCommand("Boot", gone, "repeat:");
    }
    delegate->redoHotKey();
    EXPECT_EQ(statusItem->highlights, 0);
}

TEST_F(AppDelegateTest, WindowsArePresentedInFrontAndMadeOnce)
{
    AppDelegate::Environment environment;
    environment.statusItem = statusItem;
    int settingsMade = 0;
    int aboutMade = 0;
    auto settings = std::make_shared<FakeSettingsWindow>();
    environment.makeSettingsWindow = [&] {
        ++settingsMade;
        return settings;
    };
    environment.makeAboutWindow = [&]() -> std::shared_ptr<WindowController> {
        ++aboutMade;
        return nullptr;
    };
    auto delegate = AppDelegate::make(environment);

    delegate->showPreferencesPane(Settings::PaneIdentifier{"statusBar"});
    delegate->perform("showPreferencesWithSender:", nullptr);
    // How the location menus below the shell open their pane.
    SettingsOpener::showPane("locations");
    EXPECT_EQ(settingsMade, 1);
    EXPECT_EQ(settings->panes, (QStringList{"statusBar", "none", "locations"}));
    EXPECT_TRUE(settings->staysOnTop);
    EXPECT_EQ(settings->raises, 3);
    EXPECT_EQ(settings->focuses, 3);

    delegate->showAboutWindow();
    delegate->showAboutWindow();
    EXPECT_EQ(aboutMade, 1);
    EXPECT_EQ(workspace->requests.size(), 5u);
}

TEST_F(AppDelegateTest, TheAboutBoxAndTheCrashReporterAreMadeOnceAndNoCheckStarts)
{
    auto delegate = makeDelegate();
    delegate->perform("showAbout:", nullptr);
    delegate->showAboutWindow();
    int shown = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "About" && widget->isVisible()) {
            ++shown;
            EXPECT_TRUE(widget->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        }
    EXPECT_EQ(shown, 1);

    auto reporter = delegate->crashReporter();
    ASSERT_NE(reporter, nullptr);
    EXPECT_EQ(delegate->crashReporter(), reporter);
    EXPECT_EQ(reporter->crashReporterURL(), QUrl(QString::fromUtf8(build::crashReportUrl)));
    EXPECT_EQ(reporter->defaultsKeys().lastSeenCrashLogMD5Key, "CRR_lastSeenCrashLogMD5");
    EXPECT_EQ(reporter->crashReportWindowController(), nullptr);
}

// After launch the recorder refuses what the desktop, the program's menus or
// the other hot key already use, saying which; Control is Meta, not Ctrl.
TEST_F(AppDelegateTest, TheRecorderRefusesCombinationsInUseAndSaysWhoHasThem)
{
    makeDelegate()->applicationDidFinishLaunching();
    const uint64_t ctrl = Shortcut::Command, alt = Shortcut::Option, meta = Shortcut::Control;
    UserDefaults::standard()->set("GlobalRedo", Shortcut(38, ctrl | alt).archived());
    const QString system = "already used by a system-wide keyboard shortcut";
    const struct {
        Shortcut typed;
        QString recordedKey;
        QString reason; // empty: accepted
    } cases[] = {
        {Shortcut(8, ctrl), "GlobalRedo", system},                                 // Ctrl+C
        {Shortcut(9, ctrl), "DeleteDerivedData", system},                          // Ctrl+V
        {Shortcut(38, ctrl | alt), "DeleteDerivedData", "used by ‘Quick Repeat’"}, // Ctrl+Alt+J
        {Shortcut(38, ctrl | alt), "GlobalRedo", {}},
        {Shortcut(43, ctrl), "GlobalRedo", "the menu item ‘Settings…’"},        // Ctrl+,
        {Shortcut(29, ctrl), "GlobalRedo", "the menu item ‘Show Whole Route’"}, // Ctrl+0
        {Shortcut(8, meta), "GlobalRedo", {}},                                  // Meta+C
        {Shortcut(40, ctrl | alt), "DeleteDerivedData", {}},                    // Ctrl+Alt+K
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.typed.description() + " for " + c.recordedKey).toStdString());
        ShortcutViewModel recorder;
        recorder.validator = ShortcutValidator::sharedValidator();
        recorder.recording = true;
        recorder.defaultsKey = c.recordedKey;
        const auto verdict = recorder.verdictOnKey(c.typed);
        using Action = ShortcutViewModel::KeyVerdict::Action;
        EXPECT_EQ(verdict.action, c.reason.isEmpty() ? Action::Accept : Action::ShowTaken);
        EXPECT_TRUE(verdict.explanation.contains(c.reason)) << verdict.explanation.toStdString();
    }
}
