#include "TaskTestSupport.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/Application.h"
#include "model/Container.h"
#include "model/Device.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"
#include "tasks/ContainerBackup.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/TaskManager.h"
#include "tasks/TaskRecovery.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::test;

namespace {

namespace fs = std::filesystem;

const QString kGroup = "group.com.example.shared";
const char *const kChildRoot = "CORVANE_TEST_KILLED_EXPORT_ROOT";
// "<bundle>\n<data container>\n<group container>\n<archive>\n<result file>":
// the process is another copy of the program importing that archive.
const char *const kRival = "CORVANE_TEST_RIVAL_IMPORT";

// Fails the copy of entry `failAt` (counted from 1).
template <class Base> class FaultyTask : public Base {
public:
    using Base::Base;
    int failAt = 0;
    int copies = 0;

    void copyEntry(const File &file, const fs::path &destination) override
    {
        if (++copies == failAt)
            throw fs::filesystem_error("injected", std::make_error_code(std::errc::io_error));
        Base::copyEntry(file, destination);
    }
};

// Refuses to move item `failAt` of the reset into the backup.
class FailingBackup : public ContainerBackup {
public:
    FailingBackup(const QString &taskID, const std::vector<QUrl> &containers, int failAt)
        : ContainerBackup(taskID, containers), m_failAt(failAt)
    {
    }

protected:
    void move(const fs::path &from, const fs::path &to) override
    {
        if (++m_moves == m_failAt)
            throw fs::filesystem_error("injected", std::make_error_code(std::errc::io_error));
        ContainerBackup::move(from, to);
    }

private:
    int m_failAt;
    int m_moves = 0;
};

class FaultyImport : public FaultyTask<ImportTask> {
public:
    using FaultyTask<ImportTask>::FaultyTask;
    int failMoveAt = 0;

protected:
    std::unique_ptr<ContainerBackup>
    makeBackup(const std::vector<std::shared_ptr<Container>> &containers) const override
    {
        std::vector<QUrl> urls;
        for (const auto &container : containers)
            urls.push_back(container->url());
        return std::make_unique<FailingBackup>(taskIDString(), urls, failMoveAt);
    }
};

// Cancels the task once `condition` holds.
void cancelWhen(const TaskPtr &task, std::function<bool(const Task &)> condition)
{
    task->observeDidUpdate(nullptr, [condition = std::move(condition)](const TaskPtr &updated) {
        if (!updated->isCancelled() && condition(*updated))
            updated->cancel();
    });
}

bool gathering(const Task &task, std::int64_t count)
{
    return task.totalCount() == count &&
           task.localisedDetailDescription().value_or("").startsWith("Gathering");
}

// Holds the first archive task of `application` that has copied one entry,
// until released.
class Gate {
public:
    explicit Gate(ApplicationPtr application)
        : m_token(observeNotification(
              Task::didUpdate, nullptr,
              [state = m_state, application](const Notification &, const ObjectPtr &object) {
                  const auto task = std::dynamic_pointer_cast<ArchiveTask>(object);
                  if (task && task->application() == application && task->completedCount() == 1 &&
                      !state->closed.exchange(true)) {
                      state->reached.signal();
                      EXPECT_TRUE(state->released.wait(std::chrono::seconds(60)));
                  }
              }))
    {
    }
    ~Gate()
    {
        release();
        m_token->invalidate();
    }
    bool reached() { return m_state->reached.wait(std::chrono::seconds(60)); }
    void release() { m_state->released.signal(); }

private:
    struct State {
        std::atomic<bool> closed{false};
        DispatchSemaphore reached, released;
    };
    const std::shared_ptr<State> m_state = std::make_shared<State>();
    const std::shared_ptr<NotificationObserver> m_token;
};

// An application of the simulated Xcode with a data container and one group.
class ArchiveTasksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths::setCurrent(m_tree.paths());
        QDir().mkpath(m_tree.paths().temporaryDir);
        m_tree.addRuntime("iOS", "17.5");
        m_udid = m_tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5", .booted = true});
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_tree.addXcode()));
        ASSERT_TRUE(m_toolset);
        m_toolset->supportedCommands();
        m_device = Device::initFromListLine("iPhone 15 (" + m_udid + ") (Booted)",
                                            {Runtime::System::iOS, "17.5"}, m_toolset);
        ASSERT_TRUE(m_device);
        m_install = m_tree.installApp(
            m_udid, {.identifier = "com.example.demo", .name = "Demo", .groups = {kGroup}});
        m_application =
            Application::make(QUrl::fromLocalFile(m_install.bundlePath + "/"), m_device, m_toolset);
        ASSERT_TRUE(m_application);
        m_manager = TaskManager::make();
        m_updates = observeNotification(
            Task::didUpdate, nullptr, [this](const Notification &, const ObjectPtr &object) {
                const auto task = std::dynamic_pointer_cast<Task>(object);
                const auto text = task ? task->localisedDetailDescription() : std::nullopt;
                std::lock_guard lock(m_mutex);
                if (text && (m_texts.isEmpty() || m_texts.last() != *text)) {
                    m_texts << *text;
                    // The simulator tool's calls as the first copy starts.
                    if (text->startsWith("Exporting") && m_callsBeforeCopy.isEmpty())
                        for (const Invocation &call : m_tree.invocations())
                            m_callsBeforeCopy << call.arguments.join(' ');
                }
            });
    }
    void TearDown() override
    {
        EXPECT_TRUE(waitForBackgroundWork());
        m_updates.reset();
        SystemPaths::resetToEnvironment();
    }

    QString data(const QString &relative = {}) const
    {
        return m_install.dataContainer + (relative.isEmpty() ? "" : "/" + relative);
    }
    QString group(const QString &relative = {}) const
    {
        return m_install.groupContainers.value(kGroup) + (relative.isEmpty() ? "" : "/" + relative);
    }
    QString archive() const { return m_tree.root() + "/exports/Demo.xcappdata"; }
    std::string containers() const
    {
        return "data:\n" + snapshot(data()) + "\ngroup:\n" + snapshot(group());
    }
    QStringList texts()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_texts, {});
    }

    // Files of every kind the export must treat apart.
    void fill()
    {
        for (const auto &[path, content] : std::initializer_list<std::pair<QString, QByteArray>>{
                 {data("Library/Preferences/x.plist"), "prefs"},
                 {data("Library/Caches/c.bin"), "cache"},
                 {data("Library/.DS_Store"), "finder"},
                 {data("Documents/a.txt"), "hello"},
                 {data("Documents/sub/b.bin"), QByteArray(100 * 1024, 'b')},
                 {data("tmp/t"), "temporary"},
                 {data("SystemData/s"), "system"},
                 {group("Library/Preferences/g.plist"), "group prefs"},
                 {group("Shared/data.db"), "rows"}})
            ASSERT_TRUE(writeFile(path, content));
        ASSERT_EQ(::chmod(nativeOf(data("Documents/a.txt")).c_str(), 0640), 0);
        setTime(data("Documents/a.txt"), 1600000000);
        ASSERT_TRUE(makeLink("/etc/passwd", data("Documents/l")));
    }

    std::shared_ptr<ExportTask> exportTo(const QString &path,
                                         std::shared_ptr<ExportTask> task = nullptr)
    {
        const QUrl url = QUrl::fromLocalFile(path);
        if (task)
            m_manager->startExport(task, url);
        else
            task = m_manager->startExport(m_application, url);
        EXPECT_TRUE(waitForBackgroundWork());
        return task;
    }
    std::shared_ptr<ImportTask> importFrom(const QString &path,
                                           std::shared_ptr<ImportTask> task = nullptr)
    {
        const QUrl url = QUrl::fromLocalFile(path);
        if (task)
            m_manager->startImport(task, url);
        else
            task = m_manager->startImport(m_application, url);
        EXPECT_TRUE(waitForBackgroundWork());
        return task;
    }
    // Changes the containers so that they differ from the archive.
    void change()
    {
        ASSERT_TRUE(writeFile(data("Documents/a.txt"), "changed"));
        ASSERT_TRUE(writeFile(data("Documents/new.txt"), "new"));
        ASSERT_TRUE(QFile::remove(data("Library/Preferences/x.plist")));
        ASSERT_TRUE(writeFile(data("Library/Caches/c.bin"), "kept cache"));
        ASSERT_TRUE(writeFile(group("Shared/other.db"), "other"));
    }
    // Calls of the simulator tool that quit an application.
    auto terminations() const
    {
        return std::ranges::count_if(m_tree.invocations(), [](const Invocation &call) {
            return call.arguments.value(0) == "terminate";
        });
    }
    ApplicationPtr application(const AppInstall &app) const
    {
        return Application::make(QUrl::fromLocalFile(app.bundlePath + "/"), m_device, m_toolset);
    }
    TaskPtr start(bool importing, const ApplicationPtr &application, const QString &path)
    {
        if (importing)
            return m_manager->startImport(application, QUrl::fromLocalFile(path));
        return m_manager->startExport(application, QUrl::fromLocalFile(path));
    }
    bool ended(const TaskPtr &task)
    {
        return waitUntil([&] { return std::ranges::count(m_manager->runningTasks(), task) == 0; });
    }
    void expectNoBackups() const
    {
        EXPECT_EQ(hiddenEntries(QFileInfo(data()).path()), QStringList());
        EXPECT_EQ(hiddenEntries(QFileInfo(group()).path()), QStringList());
        EXPECT_TRUE(TaskJournal::current().entries().empty());
    }

    FixtureTree m_tree;
    QString m_udid;
    std::shared_ptr<Toolset> m_toolset;
    DevicePtr m_device;
    AppInstall m_install;
    ApplicationPtr m_application;
    std::shared_ptr<TaskManager> m_manager;
    std::shared_ptr<NotificationObserver> m_updates;
    std::mutex m_mutex;
    QStringList m_texts;
    QStringList m_callsBeforeCopy;
};

// Another copy of the program, with the state folder and the home folder the
// environment names: imports the archive and writes the task's last text.
void importAsRival(const QStringList &spec)
{
    SystemPaths::setCurrent(SystemPaths::fromEnvironment());
    AlertPresenter::setShared(std::make_shared<RecordingAlertPresenter>());
    const auto application = Application::make(
        QUrl::fromLocalFile(spec[0] + "/"),
        Device::initFromListLine("iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                                 {Runtime::System::iOS, "17.5"}, nullptr),
        nullptr, Application::SimulatorCheck::byCaller);
    ASSERT_TRUE(application);
    application->setCachedDataContainer(
        std::make_shared<Container>("com.example.demo", "AppData", QUrl::fromLocalFile(spec[1])));
    application->setCachedGroupContainers(std::vector<std::shared_ptr<Container>>{
        std::make_shared<Container>(kGroup, kGroup, QUrl::fromLocalFile(spec[2]))});
    const auto manager = TaskManager::make();
    const auto task = manager->startImport(application, QUrl::fromLocalFile(spec[3]));
    ASSERT_TRUE(waitUntil([&] { return manager->runningTasks().empty(); }));
    ASSERT_TRUE(writeFile(spec[4], task->localisedDetailDescription().value_or("").toUtf8()));
    AlertPresenter::setShared(nullptr);
}

// The killed test's own process: exports the tree at `root` and stops for
// good in the middle.
void exportUntilKilled(const QString &root)
{
    const QString bundle = root + "/apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/Big.app";
    const auto device =
        Device::initFromListLine("iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                                 {Runtime::System::iOS, "17.2"}, nullptr);
    auto application = Application::make(QUrl::fromLocalFile(bundle + "/"), device, nullptr,
                                         Application::SimulatorCheck::byCaller);
    ASSERT_TRUE(application);
    application->setCachedGroupContainers(std::vector<std::shared_ptr<Container>>{});
    const auto container = std::make_shared<Container>("com.example.big", "AppData",
                                                       QUrl::fromLocalFile(root + "/data"));
    auto task = std::make_shared<ExportTask>(application);
    task->observeDidUpdate(nullptr, [&](const TaskPtr &updated) {
        if (updated->completedCount() == 50) {
            writeFile(root + "/copying", {});
            ::pause();
        }
    });
    task->run({container}, QUrl::fromLocalFile(root + "/Big.xcappdata"));
    ADD_FAILURE() << "the export was not stopped";
}

} // namespace

TEST_F(ArchiveTasksTest, ExportsLibraryDocumentsAndWholeGroups)
{
    fill();
    const auto task = exportTo(archive());

    QStringList listing;
    for (QString line : QString::fromStdString(snapshot(archive())).split('\n'))
        listing << line.section(' ', 0, 0);
    EXPECT_EQ(listing.join('\n').toStdString(),
              QStringList({"/AppData", "/AppData/Documents", "/AppData/Documents/a.txt",
                           "/AppData/Documents/l", "/AppData/Documents/sub",
                           "/AppData/Documents/sub/b.bin", "/AppData/Library",
                           "/AppData/Library/Caches", "/AppData/Library/Caches/c.bin",
                           "/AppData/Library/Preferences", "/AppData/Library/Preferences/x.plist",
                           "/AppDataInfo.plist", "/" + kGroup, "/" + kGroup + "/Library",
                           "/" + kGroup + "/Library/Caches", "/" + kGroup + "/Library/Preferences",
                           "/" + kGroup + "/Library/Preferences/g.plist", "/" + kGroup + "/Shared",
                           "/" + kGroup + "/Shared/data.db"})
                  .join('\n')
                  .toStdString());
    EXPECT_EQ(fs::read_symlink(nativeOf(archive() + "/AppData/Documents/l")), "/etc/passwd");
    EXPECT_EQ(readFile(archive() + "/AppData/Library/Preferences/x.plist"), "prefs");

    const auto info = ArchiveTask::readInfo(QUrl::fromLocalFile(archive() + "/AppDataInfo.plist"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bundleIdentifier, "com.example.demo");
    EXPECT_EQ(info->groupIdentifiers, QStringList{kGroup});

    // The application is quit before anything is copied.
    EXPECT_TRUE(m_callsBeforeCopy.contains("terminate " + m_udid + " com.example.demo"));
    const QStringList seen = texts();
    ASSERT_GE(seen.size(), 4);
    EXPECT_EQ(seen.first(), "Gathering files for export…");
    EXPECT_EQ(seen[1], "Gathering files for export (1)…");
    EXPECT_EQ(seen[16], "Gathering files for export (16)…");
    EXPECT_EQ(seen[17], "Writing archive info…");
    EXPECT_EQ(
        seen.mid(seen.size() - 3),
        QStringList({"Saving the archive…", "Finishing the export…", "Data export completed."}));
    EXPECT_EQ(seen.size(), 1 + 16 + 1 + 16 + 3);
    // A folder is copied before what it holds.
    EXPECT_LT(seen.indexOf("Exporting Preferences…"), seen.indexOf("Exporting x.plist…"));
    EXPECT_LT(seen.indexOf("Exporting Library…"), seen.indexOf("Exporting Preferences…"));
    EXPECT_EQ(task->totalCount(), 16);
    EXPECT_EQ(task->completedCount(), 16);
    EXPECT_TRUE(task->canInspect());
    EXPECT_TRUE(task->isComplete());
    EXPECT_EQ(hiddenEntries(m_tree.root() + "/exports"), QStringList());

    // A data container holding only tmp and SystemData, in an application
    // without groups, gives an archive with only its description, and a task
    // that shows as finished.
    const AppInstall bare =
        m_tree.installApp(m_udid, {.identifier = "com.example.bare", .name = "Bare"});
    ASSERT_TRUE(QDir(bare.dataContainer + "/Library").removeRecursively());
    ASSERT_TRUE(QDir(bare.dataContainer + "/Documents").removeRecursively());
    ASSERT_TRUE(writeFile(bare.dataContainer + "/SystemData/s", "system"));
    m_application =
        Application::make(QUrl::fromLocalFile(bare.bundlePath + "/"), m_device, m_toolset);
    const auto empty = exportTo(m_tree.root() + "/exports/Bare.xcappdata");
    EXPECT_EQ(QDir(m_tree.root() + "/exports/Bare.xcappdata")
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"AppDataInfo.plist"});
    EXPECT_EQ(texts().last(), "Data export completed.");
    EXPECT_EQ(empty->totalCount(), 1);
    EXPECT_EQ(empty->completedCount(), 1);
    EXPECT_FALSE(empty->isActive());
}

TEST_F(ArchiveTasksTest, AReplacedArchiveIsReplacedWholeOrNotAtAll)
{
    fill();
    exportTo(archive());
    ASSERT_TRUE(writeFile(archive() + "/stray.txt", "stray"));
    ASSERT_TRUE(writeFile(data("Documents/a.txt"), "newer"));
    const std::string before = snapshot(archive());

    struct Case {
        const char *name;
        int failAt;
        std::function<bool(const Task &)> cancel;
        const char *text;
        int completed;
    };
    const Case cases[] = {
        {"copy fails at entry 5", 5, nullptr, "Data export failed.", 4},
        {"cancel while gathering", 0, [](const Task &task) { return gathering(task, 3); },
         "Data export cancelled.", 0},
        {"cancel at entry 5", 0, [](const Task &task) { return task.completedCount() == 5; },
         "Data export cancelled.", 5},
        {"cancel after the last entry", 0,
         [](const Task &task) { return task.completedCount() == 16; }, "Data export cancelled.",
         16},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        auto task = std::make_shared<FaultyTask<ExportTask>>(m_application);
        task->failAt = test.failAt;
        if (test.cancel)
            cancelWhen(task, test.cancel);
        exportTo(archive(), task);
        const QStringList seen = texts();
        EXPECT_EQ(seen.last(), test.text);
        // What is left to do once stopped is shown as it is done.
        if (test.completed > 0)
            EXPECT_EQ(seen[seen.size() - 2], "Removing the unfinished archive…");
        EXPECT_EQ(snapshot(archive()), before);
        EXPECT_EQ(hiddenEntries(m_tree.root() + "/exports"), QStringList());
        EXPECT_TRUE(TaskJournal::current().entries().empty());
        EXPECT_EQ(task->completedCount(), test.completed);
        EXPECT_EQ(task->hasFailed(), !test.cancel);
    }

    const auto task = exportTo(archive());
    EXPECT_EQ(texts().last(), "Data export completed.");
    EXPECT_FALSE(QFileInfo::exists(archive() + "/stray.txt"));
    EXPECT_EQ(readFile(archive() + "/AppData/Documents/a.txt"), "newer");
    EXPECT_EQ(hiddenEntries(m_tree.root() + "/exports"), QStringList());
    EXPECT_TRUE(task->canInspect());
}

TEST_F(ArchiveTasksTest, ARoundTripRestoresTheExportedState)
{
    fill();
    ASSERT_TRUE(makeLink("../outside", group("Shared/link")));
    ASSERT_TRUE(writeFile(group("..notes"), "names that begin with two dots"));
    const std::string exported = containers();
    exportTo(archive());
    change();
    ASSERT_NE(containers(), exported);
    texts();

    const auto task = importFrom(archive());
    EXPECT_EQ(containers(), exported);
    EXPECT_TRUE(task->isComplete());
    EXPECT_TRUE(task->hasFinished());
    EXPECT_EQ(task->completedCount(), task->totalCount());
    EXPECT_TRUE(task->canInspect());
    expectNoBackups();

    const QStringList seen = texts();
    ASSERT_GE(seen.size(), 6);
    EXPECT_EQ(seen.mid(0, 4),
              QStringList({"Opening archive…", "Validating archive…",
                           "Gathering files for import (1)…", "Gathering files for import (2)…"}));
    EXPECT_TRUE(seen.contains("Resetting data containers…"));
    EXPECT_TRUE(seen.contains("Importing x.plist…"));
    EXPECT_EQ(seen.mid(seen.size() - 3),
              QStringList({"Saving the imported data…", "Finishing the import…",
                           "Data import completed."}));
    EXPECT_EQ(fs::read_symlink(nativeOf(data("Documents/l"))), "/etc/passwd");
}

TEST_F(ArchiveTasksTest, ArchivesThatDoNotFitAreRefusedOrPassedOver)
{
    fill();
    exportTo(archive());
    ASSERT_TRUE(writeFile(data("Documents/sentinel"), "keep"));
    const QString infoPath = archive() + "/AppDataInfo.plist";
    auto info = ArchiveTask::decodeInfo(readFile(infoPath));

    // Another application's archive changes nothing.
    auto other = info;
    other.bundleIdentifier = "com.example.other";
    ASSERT_TRUE(writeFile(infoPath, ArchiveTask::encodeInfo(other)));
    const int quits = terminations();
    auto task = importFrom(archive());
    EXPECT_EQ(texts().last(), "Archive is not valid.");
    EXPECT_TRUE(task->isCancelled());
    EXPECT_EQ(readFile(data("Documents/sentinel")), "keep");
    // A refused archive leaves the application running.
    EXPECT_EQ(terminations(), quits);

    // A group folder the description does not name, and the application
    // lacks, is passed over.
    ASSERT_TRUE(writeFile(infoPath, ArchiveTask::encodeInfo(info)));
    ASSERT_TRUE(writeFile(archive() + "/group.x/Shared/x.db", "x"));
    task = importFrom(archive());
    EXPECT_EQ(texts().last(), "Data import completed.");
    EXPECT_TRUE(task->isComplete());
    EXPECT_FALSE(task->isActive());
    EXPECT_FALSE(QFileInfo::exists(data("Documents/sentinel")));
    EXPECT_EQ(snapshot(group()).find("x.db"), std::string::npos);

    // An archive with only its description empties the containers as an
    // erase does.
    for (const QString &entry : QDir(archive()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        ASSERT_TRUE(QDir(archive() + "/" + entry).removeRecursively());
    task = importFrom(archive());
    EXPECT_EQ(texts().last(), "Data import completed.");
    EXPECT_EQ(task->completedCount(), 1);
    EXPECT_FALSE(task->isActive());
    QStringList left =
        QDir(data()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left, QStringList({".com.apple.mobile_container_manager.metadata.plist", "Library",
                                 "SystemData", "tmp"}));
    EXPECT_EQ(
        QDir(data("Library")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({".DS_Store", "Caches"}));
    EXPECT_TRUE(QDir(data("Library/Caches")).isEmpty());
    EXPECT_EQ(readFile(data("tmp/t")), "temporary");
    EXPECT_EQ(QDir(group()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({"Library"}));
    expectNoBackups();
}

TEST_F(ArchiveTasksTest, AFailedOrCancelledImportPutsTheContainersBack)
{
    fill();
    exportTo(archive());
    ASSERT_TRUE(writeFile(archive() + "/AppData/..extra", "goes with the roll-back"));
    change();
    const std::string before = containers();

    struct Case {
        const char *name;
        int failMoveAt;
        int failCopyAt;
        std::function<bool(const Task &)> cancel;
        const char *text;
        int completed;
    };
    const Case cases[] = {
        {"reset fails halfway", 3, 0, nullptr, "Data import failed.", 0},
        {"copy fails at entry 6", 0, 6, nullptr, "Data import failed.", 5},
        {"cancel while gathering", 0, 0, [](const Task &task) { return gathering(task, 2); },
         "Data import cancelled.", 0},
        {"cancel at entry 6", 0, 0, [](const Task &task) { return task.completedCount() == 6; },
         "Data import cancelled.", 6},
        {"cancel after the last entry", 0, 0,
         [](const Task &task) { return task.completedCount() == 17; }, "Data import cancelled.",
         17},
        {"cancel while the copies are saved", 0, 0,
         [](const Task &task) {
             return task.localisedDetailDescription() == "Saving the imported data…";
         },
         "Data import cancelled.", 17},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        auto task = std::make_shared<FaultyImport>(m_application);
        task->failMoveAt = test.failMoveAt;
        task->failAt = test.failCopyAt;
        if (test.cancel)
            cancelWhen(task, test.cancel);
        importFrom(archive(), task);
        const QStringList seen = texts();
        EXPECT_EQ(seen.last(), test.text);
        if (test.completed > 0 || test.failMoveAt > 0)
            EXPECT_EQ(seen[seen.size() - 2], "Putting back the replaced data…");
        EXPECT_EQ(task->completedCount(), test.completed);
        EXPECT_FALSE(task->hasFinished());
        EXPECT_EQ(containers(), before);
        expectNoBackups();
    }
}

// An import whose copy fails, and whose roll-back then fails at one call,
// each in turn, once or from then on as on a full disk: a container left
// changed waits for the next start, which puts it back whole.
TEST_F(ArchiveTasksTest, ARollBackFailingAtAnyCallLeavesNoMixAfterTheNextStart)
{
    fill();
    exportTo(archive());
    change();
    const std::string before = containers();
    const TaskJournal journal = TaskJournal::current();
    // Arms the failures as the copy fails.
    struct Import : FaultyImport {
        using FaultyImport::FaultyImport;
        FailingCalls *calls = nullptr;
        void copyEntry(const File &file, const fs::path &destination) override
        {
            if (copies + 1 == failAt)
                calls->arm();
            FaultyImport::copyEntry(file, destination);
        }
    };
    for (const bool onward : {false, true}) {
        for (int at = 1, calls = 0; calls >= at - 1; ++at) {
            SCOPED_TRACE((onward ? "failing from call " : "failing at call ") + std::to_string(at));
            {
                FailingCalls failing(at, onward, false);
                auto task = std::make_shared<Import>(m_application);
                task->failAt = 6;
                task->calls = &failing;
                importFrom(archive(), task);
                calls = failing.calls();
            }
            // Only a container as it was may be reported as only failed.
            EXPECT_TRUE(containers() == before ||
                        texts().last().endsWith(" The next start of Corvane removes what it "
                                                "copied in and puts back the data it replaced."));
            for (TaskJournal::Entry entry : journal.entries()) {
                entry.processStart = 1;
                journal.write(entry);
            }
            m_manager = TaskManager::make();
            EXPECT_TRUE(TaskRecovery::recover(journal, m_manager->claims()).kept.isEmpty());
            EXPECT_EQ(containers(), before);
            expectNoBackups();
        }
    }
}

TEST_F(ArchiveTasksTest, AnArchiveInsideTheApplicationsDataIsRefusedBeforeAnythingChanges)
{
    fill();
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);
    exportTo(data("Documents/Demo.xcappdata"));
    ASSERT_TRUE(makeLink(data("Documents"), m_tree.root() + "/documents"));
    for (const QString &path :
         {data("Documents/Demo.xcappdata"), m_tree.root() + "/documents/Demo.xcappdata"}) {
        const std::string before = containers();
        const int quits = terminations();
        const auto task = importFrom(path);
        // The row says why, as the alert does.
        EXPECT_EQ(texts().last(), "The archive lies inside the application's data.");
        EXPECT_TRUE(task->isCancelled());
        EXPECT_EQ(containers(), before);
        EXPECT_EQ(terminations(), quits);
        expectNoBackups();
    }
    AlertPresenter::setShared(nullptr);
    ASSERT_EQ(alerts->presented.size(), 2u);
    EXPECT_EQ(alerts->presented[1].messageText, "The archive lies inside the application's data");
    EXPECT_TRUE(alerts->presented[1].informativeText.contains("“Demo.xcappdata”"));
}

TEST(ArchiveImportChecks, AnArchiveWhosePlaceCannotBeToldCountsAsInsideAContainer)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    ASSERT_TRUE(QDir().mkpath(root + "/data"));
    ASSERT_TRUE(makeLink(root + "/loop", root + "/loop"));
    const struct {
        const char *name;
        QString archive, container;
        bool held;
    } cases[] = {
        {"elsewhere", "/Demo.xcappdata", "/data", false},
        {"holding the container", "/", "/data", true},
        {"the archive behind a loop of links", "/loop/Demo.xcappdata", "/data", true},
        {"the container behind a loop of links", "/Demo.xcappdata", "/loop/data", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto container = std::make_shared<Container>("com.example.demo", "AppData",
                                                           QUrl::fromLocalFile(root + c.container));
        EXPECT_EQ(
            ImportTask::containerHolding(nativePath(root + c.archive), {container}).has_value(),
            c.held);
    }
}

// A task that shares no container with the one running runs beside it.
TEST_F(ArchiveTasksTest, ATaskOnAContainerAnotherTaskHoldsIsTurnedAwayBeforeItTouchesAnything)
{
    if (qEnvironmentVariableIsSet(kRival))
        return importAsRival(qEnvironmentVariable(kRival).split('\n'));
    fill();
    exportTo(archive());
    const std::string exported = containers();
    const AppInstall mateInstall = m_tree.installApp(
        m_udid, {.identifier = "com.example.mate", .name = "Mate", .groups = {kGroup}});
    const auto mate = application(mateInstall);
    ASSERT_EQ(mateInstall.groupContainers.value(kGroup), group());
    ASSERT_TRUE(writeFile(mateInstall.dataContainer + "/Documents/m.txt", "mate"));
    const std::string mateData = snapshot(mateInstall.dataContainer);
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);

    const auto solo =
        application(m_tree.installApp(m_udid, {.identifier = "com.example.solo", .name = "Solo"}));
    // The same archive by another name, so that only the containers meet.
    const QString copy = m_tree.root() + "/exports/Copy.xcappdata";
    exportTo(copy);
    const QString first = m_tree.root() + "/exports/First.xcappdata";
    const QString second = m_tree.root() + "/exports/Second.xcappdata";
    const QString replaced = "“Demo” is already being replaced.";
    const QString exporting = "“Demo” is already being exported.";
    const QString done = "Data export completed.";
    const struct {
        const char *name;
        bool firstImports;
        bool secondImports;
        ApplicationPtr secondApplication;
        QString secondArchive;
        QString text;
        // Started by another copy of the program.
        bool elsewhere = false;
    } cases[] = {
        {"two imports of one application", true, true, m_application, copy, replaced},
        {"two imports of one application by two programs", true, true, m_application, copy,
         "“Demo” is in use by another running Corvane.", true},
        {"an import beside an export of it", false, true, m_application, copy, exporting},
        {"an export beside an import of it", true, false, m_application, second, replaced},
        {"two applications sharing a group", true, true, mate, copy, replaced},
        {"an import beside an export of one sharing a group", false, true, mate, copy, exporting},
        {"an export into a container being replaced", true, false, solo,
         data("Documents/Solo.xcappdata"), replaced},
        {"an export of one sharing nothing", true, false, solo, second, done},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFile(data("Documents/a.txt"), c.name));
        ASSERT_TRUE(writeFile(group("Shared/case.txt"), c.name));
        const std::string before = containers();
        QDir(first).removeRecursively();

        Gate gate(m_application);
        const auto holder =
            start(c.firstImports, m_application, c.firstImports ? archive() : first);
        ASSERT_TRUE(gate.reached());
        const int quits = terminations();
        const bool refused = c.text != done;
        if (c.elsewhere) {
            const QString result = m_tree.root() + "/rival.txt";
            const QStringList spec{m_install.bundlePath, data(), group(), c.secondArchive, result};
            const pid_t rival =
                spawnThisTest({std::string(kRival) + '=' + nativeOf(spec.join('\n')),
                               "CORVANE_STATE_DIR=" + nativeOf(m_tree.paths().stateDir),
                               "CORVANE_HOME=" + nativeOf(m_tree.paths().home)});
            int status = 0;
            ASSERT_EQ(::waitpid(rival, &status, 0), rival);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(readFile(result), c.text.toUtf8());
            EXPECT_EQ(terminations(), quits);
        } else {
            const auto other = start(c.secondImports, c.secondApplication, c.secondArchive);
            ASSERT_TRUE(ended(other));
            EXPECT_EQ(other->localisedDetailDescription(), c.text);
            EXPECT_EQ(other->isCancelled(), refused);
            EXPECT_FALSE(other->hasFailed());
            EXPECT_EQ(terminations(), quits + !refused);
            ASSERT_TRUE(waitUntil([&] { return alerts->presented.size() == size_t(refused); }));
            if (refused)
                EXPECT_EQ(alerts->presented[0].messageText, c.text);
            alerts->presented.clear();
        }

        // The holder's own work went through whole.
        gate.release();
        ASSERT_TRUE(ended(holder));
        EXPECT_EQ(containers(), c.firstImports ? exported : before);
        EXPECT_EQ(snapshot(mateInstall.dataContainer), mateData);
        if (!c.firstImports)
            EXPECT_EQ(readFile(first + "/AppData/Documents/a.txt"), c.name);
        if (!c.secondImports)
            EXPECT_EQ(QFileInfo::exists(c.secondArchive), !refused);
        expectNoBackups();
    }
    AlertPresenter::setShared(nullptr);
}

TEST_F(ArchiveTasksTest, LinksInContainersAreNeitherFollowedNorKept)
{
    fill();
    exportTo(archive());
    ASSERT_TRUE(writeFile(m_tree.root() + "/outside/o.txt", "outside"));
    const std::string outside = snapshot(m_tree.root() + "/outside");

    // A linked Library/Caches is no folder the erase keeps: it is moved aside
    // and deleted as a link, and the archive's folder takes its place.
    ASSERT_TRUE(QDir(data("Library/Caches")).removeRecursively());
    ASSERT_TRUE(makeLink(m_tree.root() + "/outside", data("Library/Caches")));
    importFrom(archive());
    EXPECT_EQ(texts().last(), "Data import completed.");
    EXPECT_EQ(readFile(data("Library/Caches/c.bin")), "cache");
    EXPECT_EQ(snapshot(m_tree.root() + "/outside"), outside);

    // A linked folder that the erase leaves alone stops the copy into it, and
    // the import is undone.
    ASSERT_TRUE(writeFile(archive() + "/AppData/tmp/x", "x"));
    ASSERT_TRUE(QDir(data("tmp")).removeRecursively());
    ASSERT_TRUE(makeLink(m_tree.root() + "/outside", data("tmp")));
    change();
    const std::string before = containers();
    importFrom(archive());
    EXPECT_EQ(texts().last(), "Data import failed.");
    EXPECT_EQ(containers(), before);
    EXPECT_EQ(snapshot(m_tree.root() + "/outside"), outside);
    expectNoBackups();
}

// A link in place of a container, or of a folder on its way from the devices
// folder, would have the reset empty and the copies fill what it leads to.
TEST_F(ArchiveTasksTest, AReplaceNeverReachesThroughALink)
{
    fill();
    const std::string exported = containers();
    exportTo(archive());
    change();
    AlertPresenter::setShared(std::make_shared<RecordingAlertPresenter>());
    const QString away = m_tree.root() + "/away";
    const QString linked = "The application's data is reached through a link.";
    const struct {
        QString link, text;
    } cases[] = {
        {data(), linked},
        {QFileInfo(data()).path(), linked},
        {archive() + "/AppData", "Archive is not valid."},
        // Reading through a linked container changes nothing in it.
        {data(), "Data export completed."},
        // A simulators' folder moved to another disk.
        {m_tree.devicesDir(), "Data import completed."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.link + ": " + c.text).toStdString());
        ASSERT_TRUE(QDir().mkpath(away) && QDir().rename(c.link, away + "/moved") &&
                    makeLink(away + "/moved", c.link));
        const std::string target = snapshot(away), before = containers();
        const int quits = terminations();
        const bool exports = c.text.startsWith("Data export");
        const bool replaced = c.text.startsWith("Data import");
        const TaskPtr task = exports
                                 ? TaskPtr(exportTo(m_tree.root() + "/exports/Linked.xcappdata"))
                                 : importFrom(archive());
        EXPECT_EQ(task->localisedDetailDescription(), c.text);
        EXPECT_EQ(task->isCancelled(), !exports && !replaced);
        EXPECT_EQ(terminations(), quits + (exports || replaced));
        EXPECT_EQ(containers(), replaced ? exported : before);
        if (!replaced)
            EXPECT_EQ(snapshot(away), target);
        expectNoBackups();
        ASSERT_TRUE(QFile::remove(c.link) && QDir().rename(away + "/moved", c.link));
    }
    AlertPresenter::setShared(nullptr);
}

TEST(ArchiveExportKill, KilledExportLeavesTheOldArchive)
{
    if (qEnvironmentVariableIsSet(kChildRoot))
        return exportUntilKilled(qEnvironmentVariable(kChildRoot));
    QTemporaryDir dir;
    const QString root = dir.path();
    const QString bundle = root + "/apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/Big.app";
    ASSERT_TRUE(QDir().mkpath(bundle));
    ASSERT_TRUE(PropertyList::writeFile(
        bundle + "/Info.plist",
        QVariantMap{{"CFBundleIdentifier", "com.example.big"}, {"CFBundleName", "Big"}}));
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(writeFile(root + QString("/data/Documents/f%1").arg(i),
                              QByteArray(64 * 1024, char('a' + i % 26))));
    ASSERT_TRUE(writeFile(root + "/Big.xcappdata/AppData/Documents/old", "old archive"));
    ASSERT_TRUE(writeFile(root + "/Big.xcappdata/AppDataInfo.plist", "old"));
    const std::string before = snapshot(root + "/Big.xcappdata");

    const pid_t pid = spawnThisTest({std::string(kChildRoot) + "=" + nativeOf(root)});

    int status = 0;
    bool ended = false;
    waitUntil([&] {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        return ended || QFileInfo::exists(root + "/copying");
    });
    ASSERT_FALSE(ended) << "the export ended by itself";
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    EXPECT_EQ(snapshot(root + "/Big.xcappdata"), before);
    // The unfinished copy is hidden beside it.
    const QStringList hidden = hiddenEntries(root);
    ASSERT_EQ(hidden.size(), 1);
    EXPECT_TRUE(hidden.first().startsWith(".export-"));
    EXPECT_EQ(
        QDir(root + "/" + hidden.first() + "/AppData/Documents").entryList(QDir::Files).size(), 49);
}

TEST_F(ArchiveTasksTest, ATaskWhoseEntryCannotBeWrittenFailsBeforeTouchingAnything)
{
    fill();
    exportTo(archive());
    change();
    for (const QString kind : {"export", "import", "import of too much to note"}) {
        SCOPED_TRACE(kind.toStdString());
        // Each of these would be noted as made: together they outgrow what
        // the journal reads back.
        const bool tooMuch = kind.endsWith("note");
        for (int i = 0; tooMuch && i < 1400; ++i)
            ASSERT_TRUE(writeFile(
                archive() + "/AppData/tmp/" + QString(120, QChar(0xE9)) + QString::number(i), "x"));
        const std::string before = containers() + snapshot(archive());
        {
            // A full disk: the journal's writer fails, not a stand-in for it.
            const auto full = tooMuch ? nullptr : std::make_unique<test::SaveFault>();
            if (kind == "export")
                exportTo(archive());
            else
                importFrom(archive());
        }
        EXPECT_EQ(texts().last(), kind == "export" ? "Data export failed." : "Data import failed.");
        EXPECT_EQ(containers() + snapshot(archive()), before);
        EXPECT_EQ(hiddenEntries(m_tree.root() + "/exports"), QStringList());
        expectNoBackups();
    }
}

// The user goes on using the application after each task and each start.
TEST_F(ArchiveTasksTest, AStepThatCannotBeNotedIsNotTaken)
{
    fill();
    exportTo(archive());
    const std::string imported = containers();
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);
    const TaskJournal journal = TaskJournal::current();
    using Phase = TaskJournal::Entry::Phase;
    const QString undone = " The next start of Corvane removes what it copied in and puts back "
                           "the data it replaced.";
    const struct {
        const char *name;
        int failCopyAt;
        std::vector<Phase> unnoted;
        // Whether the entry cannot be removed either, nor a note made beside
        // the backups that the task ended; the task's last text; whether the
        // containers then hold the archive's data, and whether the next
        // start puts back what was there before the task.
        bool stays, unmarked;
        QString text;
        bool completes, undoneLater = false;
    } cases[] = {
        {"the reset cannot be noted as done",
         0,
         {Phase::copying},
         false,
         false,
         "Data import failed.",
         false},
        {"the roll-back can be noted neither way",
         6,
         {Phase::removing, Phase::restoring},
         true,
         false,
         "Data import failed.",
         false},
        {"the roll-back is cut off once the imported data is gone",
         6,
         {Phase::restoring},
         true,
         false,
         "Data import failed.",
         false},
        {"the roll-back can be noted nowhere",
         6,
         {Phase::removing},
         true,
         true,
         "Data import failed." + undone,
         true,
         true},
        {"the end can be noted neither way",
         0,
         {Phase::discarding},
         true,
         false,
         "Data import completed.",
         true},
        {"the end can be noted nowhere",
         0,
         {Phase::discarding},
         true,
         true,
         "Data import failed." + undone,
         true,
         true},
        {"the end cannot be noted, but the entry can go",
         0,
         {Phase::discarding},
         false,
         false,
         "Data import completed.",
         true},
    };
    int written = 0;
    // The user's work since, which no start may take.
    const auto work = [&] {
        const QString name = QString("later%1").arg(++written);
        EXPECT_TRUE(writeFile(data("Documents/" + name), name.toUtf8()));
        EXPECT_TRUE(writeFile(group("Shared/" + name), name.toUtf8()));
        return containers();
    };
    // A start of the program after this one, with the journal folder
    // writable or not.
    const auto start = [&](bool writable) {
        for (TaskJournal::Entry entry : journal.entries()) {
            entry.processStart = 1;
            journal.write(entry);
        }
        m_manager = TaskManager::make();
        const JournalFailure unwritable([=](const auto &) { return !writable; }, !writable);
        return TaskRecovery::recover(journal, m_manager->claims());
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.name);
        alerts->presented.clear();
        written = 0;
        if (containers() == imported)
            change();
        const std::string before = containers();
        auto task = std::make_shared<FaultyImport>(m_application);
        task->failAt = test.failCopyAt;
        {
            const JournalFailure failure(
                [&](const auto &entry) {
                    return std::ranges::count(test.unnoted, entry.phase) > 0;
                },
                test.stays, test.unmarked);
            importFrom(archive(), task);
        }
        EXPECT_EQ(texts().last(), test.text);
        if (!test.undoneLater)
            EXPECT_EQ(containers(), test.completes ? imported : before);
        ASSERT_EQ(journal.entries().size(), size_t(test.stays));
        if (test.stays) {
            // The alert names what the next start puts back, when anything.
            ASSERT_TRUE(waitUntil([&] { return alerts->presented.size() == test.undoneLater; }));
            if (test.undoneLater)
                EXPECT_TRUE(alerts->presented[0].informativeText.contains("/.import-" +
                                                                          task->taskIDString()));
            // Nothing else touches the containers until the next start.
            const std::string left = containers();
            importFrom(archive());
            EXPECT_EQ(texts().last(), "“Demo” waits for the next start of Corvane.");
            EXPECT_EQ(containers(), left);
            // What the next start puts back it puts back only once it can
            // note its steps; what it does not put back stays as it is.
            std::string expected = test.undoneLater ? left : work();
            EXPECT_FALSE(start(false).finished);
            EXPECT_EQ(containers(), expected);
            importFrom(archive());
            EXPECT_EQ(texts().last(), "“Demo” waits for the next start of Corvane.");
            expected = test.undoneLater ? before : work();
            EXPECT_TRUE(start(true).finished);
            EXPECT_EQ(containers(), expected);
            m_manager = TaskManager::make();
            for (int i = 1; i <= written; ++i)
                for (const QString &file : {data("Documents/later%1"), group("Shared/later%1")})
                    ASSERT_TRUE(QFile::remove(file.arg(i)));
            EXPECT_EQ(containers(), test.completes && !test.undoneLater ? imported : before);
        }
        expectNoBackups();
    }
    AlertPresenter::setShared(nullptr);
}
