#include "app/ShellTestSupport.h"
#include "app/shell/DebugLogExport.h"
#include "app/shell/MainMenuUpdator.h"
#include "common/TestSupport.h"
#include "location/LocationSimulator.h"
#include "model/ScreenshotDateFormatter.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/SavePanel.h"
#include "platform/files/PendingSaves.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;

namespace {

QDateTime local(int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 5, 1), QTime(hour, minute, second));
}

LogStore::Entry entry(const QDateTime &time, LogLevel level, const QString &message,
                      const QString &subsystem = Log::subsystem)
{
    LogEntry logged;
    logged.time = time;
    logged.level = level;
    logged.category = "device";
    logged.message = message;
    logged.pid = 4242;
    logged.processName = "corvane";
    logged.threadId = 77;
    return {logged, subsystem};
}

class FakeLogStore : public LogStore {
public:
    Query entries(const QDateTime &since, const QString &subsystem) override
    {
        std::lock_guard lock(mutex);
        asked = {since, subsystem};
        return answer;
    }
    std::mutex mutex;
    Query answer;
    std::pair<QDateTime, QString> asked;
};

class DebugLogExportTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(path("tmp")));
        ScreenshotDateFormatter::setClock([] { return local(12, 30, 5); });
        AlertPresenter::setShared(alerts);
        SavePanel::setShared(panel);
        environment.openStore = [this] { return store; };
        environment.toolsetDescription = [] { return QString("Current toolset: 15.2\nKnown:"); };
        environment.kernelRelease = [] { return QString("6.1.0-18-amd64"); };
        environment.bootTime = [] { return local(9, 0, 0); };
        environment.temporaryDir = path("tmp");
    }
    void TearDown() override
    {
        SavePanel::setShared(nullptr);
        AlertPresenter::setShared(nullptr);
        ScreenshotDateFormatter::setClock({});
        ShellTest::TearDown();
    }

    // Runs an export to its end: the alert or the panel, and the move. Keeps
    // the file it left in the temporary folder, if any.
    void exportLogs(std::optional<QString> answer = std::nullopt)
    {
        const size_t before = alerts->presented.size() + panel->presented.size();
        panel->enqueue(std::move(answer));
        DebugLogExport::begin(environment);
        ASSERT_TRUE(
            waitUntil([&] { return alerts->presented.size() + panel->presented.size() > before; }));
        ASSERT_TRUE(waitForBackgroundWork());
        // Set aside, so that the next export's file is told from it.
        temporaryFile = temporaryFiles().value(0);
        if (QFile::rename(temporaryFile, temporaryFile + ".seen"))
            temporaryFile += ".seen";
    }

    QStringList temporaryFiles() const
    {
        QStringList files;
        for (const QString &name : QDir(path("tmp")).entryList({"Corvane Debug *-*.txt"}))
            files << path("tmp/" + name);
        return files;
    }

    QString temporaryFile;

    const QByteArray header = "OS: 6.1.0\nCurrent toolset: 15.2\nKnown:\n\n\nLogs--";
    std::shared_ptr<FakeLogStore> store = std::make_shared<FakeLogStore>();
    std::shared_ptr<RecordingAlertPresenter> alerts = std::make_shared<RecordingAlertPresenter>();
    std::shared_ptr<RecordingSavePanel> panel = std::make_shared<RecordingSavePanel>();
    DebugLogExport::Environment environment;
};

} // namespace

TEST(DebugLogExport, TheHeaderNamesTheSystemByThreeNumbers)
{
    const std::pair<QString, QString> releases[] = {
        {"6.18.44-fc-v1300", "OS: 6.18.44"}, {"5.10", "OS: 5.10.0"}, {"6", "OS: 6.0.0"},
        {"4.19.0+", "OS: 4.19.0"},           {"", "OS: 0.0.0"},      {"7.2.1.9", "OS: 7.2.1"}};
    for (const auto &[release, line] : releases)
        EXPECT_EQ(DebugLogExport::systemLine(release), line) << release.toStdString();
    EXPECT_TRUE(DebugLogExport::latestBoot().isValid());
    EXPECT_LT(DebugLogExport::latestBoot(), QDateTime::currentDateTimeUtc());
}

TEST_F(DebugLogExportTest, TheFileHoldsTheProgramsEntriesSinceBootOrTheAlertSaysWhy)
{
    const QByteArray lines = "2024-05-01 09.00.00 corvane[4242:77] [device] at boot\n"
                             "2024-05-01 11.15.30 corvane[4242:77] [device] two\nlines\n";
    const struct {
        const char *name;
        LogStore::Query answer;
        QByteArray file;
        QString message, informative;
    } cases[] = {
        {"entries",
         {{entry(local(8, 59, 59), LogLevel::Fault, "before boot"),
           entry(local(9, 0, 0), LogLevel::Info, "at boot"),
           entry(local(10, 0, 0), LogLevel::Debug, "debug"),
           entry(local(10, 30, 0), LogLevel::Error, "other", "com.example.other"),
           entry(local(11, 15, 30), LogLevel::Fault, "two\nlines")}},
         header + lines},
        {"none", {}, header},
        {"query fails",
         {{entry(local(10, 0, 0), LogLevel::Info, "unread")}, QString("The store is locked.")},
         header,
         "Unable to query the logs",
         "The store is locked."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        store->answer = c.answer;
        alerts->presented.clear();
        panel->presented.clear();
        exportLogs();
        EXPECT_EQ(readFile(temporaryFile), c.file);
        EXPECT_EQ(store->asked, std::pair(local(9, 0, 0), QString(Log::subsystem)));
        if (c.message.isEmpty()) {
            EXPECT_TRUE(alerts->presented.empty());
            ASSERT_EQ(panel->presented.size(), 1u);
            EXPECT_EQ(panel->presented[0].title, "Save Logs");
            EXPECT_EQ(panel->presented[0].prompt, "Save");
            EXPECT_EQ(panel->presented[0].identifier, "SaveLogs");
            EXPECT_EQ(panel->presented[0].proposedName, "Corvane Debug 2024-05-01 12.30.05.txt");
            EXPECT_TRUE(panel->presented[0].canHideExtension);
        } else {
            EXPECT_TRUE(panel->presented.empty());
            ASSERT_EQ(alerts->presented.size(), 1u);
            EXPECT_EQ(alerts->presented[0].style, AlertSpec::Style::Critical);
            EXPECT_EQ(alerts->presented[0].messageText, c.message);
            EXPECT_EQ(alerts->presented[0].informativeText, c.informative);
            EXPECT_TRUE(alerts->presented[0].buttons.empty());
        }
    }

    // No store, or no file to write: an alert, nothing written.
    environment.openStore = [] { return std::shared_ptr<LogStore>(); };
    exportLogs();
    environment.openStore = [this] { return store; };
    environment.temporaryDir = path("missing");
    exportLogs();
    ASSERT_EQ(alerts->presented.size(), 3u);
    EXPECT_EQ(alerts->presented[1].informativeText, "Unable to gain access to the logs.");
    EXPECT_EQ(alerts->presented[2].informativeText, "Unable to save log file.");
    EXPECT_TRUE(temporaryFile.isEmpty());
    EXPECT_TRUE(panel->presented.empty());
}

TEST_F(DebugLogExportTest, TheChosenPlaceGetsTheFileOverWhatWasThere)
{
    store->answer = {{entry(local(10, 0, 0), LogLevel::Notice, "saved")}};
    const QByteArray expected = header + "2024-05-01 10.00.00 corvane[4242:77] [device] saved\n";
    Log::Capture log;

    // Cancelled: the file stays where it was written.
    exportLogs();
    EXPECT_EQ(readFile(temporaryFile), expected);

    // The user agreed to replace the file there.
    writeFile(path("Logs.txt"), "an older export, longer than the new one. " + expected);
    exportLogs(path("Logs.txt"));
    EXPECT_EQ(readFile(path("Logs.txt")), expected);
    EXPECT_TRUE(temporaryFile.isEmpty());

    // Across file systems, where a rename cannot go.
    QTemporaryDir elsewhere("/dev/shm/corvane-test-XXXXXX");
    struct stat here {
    }, there{};
    if (elsewhere.isValid() && ::stat(QFile::encodeName(path("tmp")), &here) == 0 &&
        ::stat(QFile::encodeName(elsewhere.path()), &there) == 0 && here.st_dev != there.st_dev) {
        writeFile(elsewhere.filePath("Logs.txt"), "older");
        // The copy counts as a save under way, which quitting waits for.
        auto pending = std::make_shared<std::atomic<int>>(-1);
        {
            const SaveFault hold({.step = AtomicFile::Step::create,
                                  .hold = [pending] { *pending = PendingSaves::count(); }});
            exportLogs(elsewhere.filePath("Logs.txt"));
        }
        EXPECT_GE(*pending, 1);
        EXPECT_EQ(readFile(elsewhere.filePath("Logs.txt")), expected);
        EXPECT_TRUE(temporaryFile.isEmpty());
        EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{"Logs.txt"});
    }

    // A move that fails is logged once and shown to no one.
    exportLogs(path("missing/Logs.txt"));
    EXPECT_EQ(log.count("Error moving logs"), 1);
    EXPECT_TRUE(alerts->presented.empty());
    EXPECT_EQ(readFile(temporaryFile), expected);
}

// Both in the same second, so under the same name: each still saves its whole file.
TEST_F(DebugLogExportTest, TwoExportsStartedTogetherSaveTwoWholeFiles)
{
    for (int i = 0; i < 20000; ++i)
        store->answer.entries.push_back(
            entry(local(10, 0, 0), LogLevel::Info, QString("entry %1").arg(i)));
    panel->enqueue(path("first.txt"));
    panel->enqueue(path("second.txt"));
    DebugLogExport::begin(environment);
    DebugLogExport::begin(environment);
    ASSERT_TRUE(waitUntil([&] { return panel->presented.size() == 2; }));
    ASSERT_TRUE(waitForBackgroundWork());
    const QByteArray first = readFile(path("first.txt"));
    EXPECT_TRUE(first.startsWith(header));
    EXPECT_TRUE(first.endsWith("] [device] entry 19999\n"));
    EXPECT_EQ(first.count('\n'), header.count('\n') + 20000);
    EXPECT_EQ(readFile(path("second.txt")), first);
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(DebugLogExportTest, TheRealStoreGivesWhatTheProgramLogged)
{
    const QString previous = Log::filePath();
    Log::setFile(path("log/Corvane.log"));
    Log::general().info("exported %{public}@", QString("line"));
    Log::general().debug("left out");
    environment.openStore = LogStore::local;
    environment.bootTime = [] { return QDateTime(); };
    exportLogs();
    Log::setFile(previous);
    const QByteArray file = readFile(temporaryFile);
    EXPECT_TRUE(file.contains("] [general] exported line\n")) << file.toStdString();
    EXPECT_FALSE(file.contains("left out"));
}

TEST_F(DebugLogExportTest, TheMainMenuFollowsPlaybackAndTheSidebar)
{
    MainMenuUpdator updator;
    EXPECT_EQ(updator.optionsMenuItemTitle(), "Hide Options");
    EXPECT_EQ(updator.playbackMenuItemTitle(), "Play");
    EXPECT_FALSE(updator.playbackMenuItemEnabled());
    int notified = 0;
    for (auto changed : {&MainMenuUpdator::playbackMenuItemTitleChanged,
                         &MainMenuUpdator::optionsMenuItemTitleChanged})
        QObject::connect(&updator, changed, [&] { ++notified; });
    QObject::connect(&updator, &MainMenuUpdator::playbackMenuItemEnabledChanged,
                     [&] { ++notified; });
    auto settle = [] { pumpFor(std::chrono::milliseconds(20)); };

    const auto engine = LocationSimulator::shared();
    engine->useWithLocations({Location(1, 1)});
    settle();
    EXPECT_FALSE(updator.playbackMenuItemEnabled());
    EXPECT_EQ(notified, 0);
    engine->useWithLocations({Location(1, 1), Location(2, 2), Location(3, 3)});
    settle();
    EXPECT_TRUE(updator.playbackMenuItemEnabled());
    EXPECT_EQ(notified, 1);

    engine->toggle();
    settle();
    EXPECT_EQ(updator.playbackMenuItemTitle(), "Pause");
    engine->setPlaybackState(LocationSimulator::PlaybackStatus::stopped);
    settle();
    EXPECT_EQ(updator.playbackMenuItemTitle(), "Play");
    EXPECT_EQ(notified, 3);

    updator.setSidebarIsHidden(true);
    updator.updateOptionsMenuItemTitle();
    updator.updateOptionsMenuItemTitle();
    EXPECT_EQ(updator.optionsMenuItemTitle(), "Show Options");
    EXPECT_EQ(notified, 4);
    EXPECT_EQ(updator.property("optionsMenuItemTitle").toString(), "Show Options");
}
