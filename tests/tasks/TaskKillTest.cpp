#include "TaskTestSupport.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/TaskRecovery.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

using namespace corvane;
using namespace corvane::test;
using std::chrono::microseconds;

namespace {

// "<import|export|recover> <root>": the process is the child to be killed.
const char *const kChild = "CORVANE_TEST_KILL_CHILD";
// Kills per kind; scripts/kill-loop asks for more.
const char *const kRounds = "CORVANE_KILL_ROUNDS";

// An application without a simulator, its data container and one group, and
// an archive beside them.
struct Tree {
    QString root;

    QString at(const QString &relative) const { return root + '/' + relative; }
    QString devices() const { return at("home/Library/Developer/CoreSimulator/Devices"); }
    QString data() const { return simulatorContainer(devices(), false); }
    QString group() const { return simulatorContainer(devices(), true); }
    TaskJournal journal() const { return TaskJournal(at("state"), devices()); }
    // The hidden folders left beside the archive and the containers.
    QStringList hidden() const
    {
        return hiddenEntries(root) + hiddenEntries(QFileInfo(data()).path()) +
               hiddenEntries(QFileInfo(group()).path());
    }
    ApplicationPtr application() const
    {
        const QString bundle = at("apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/Big.app");
        QDir().mkpath(bundle);
        PropertyList::writeFile(bundle + "/Info.plist",
                                QVariantMap{{"CFBundleIdentifier", "com.example.big"}});
        auto application = Application::make(
            QUrl::fromLocalFile(bundle + "/"),
            Device::initFromListLine("iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                                     {Runtime::System::iOS, "17.2"}, nullptr),
            nullptr, Application::SimulatorCheck::byCaller);
        application->setCachedDataContainer(
            std::make_shared<Container>("com.example.big", "AppData", QUrl::fromLocalFile(data())));
        application->setCachedGroupContainers(std::vector<std::shared_ptr<Container>>{
            std::make_shared<Container>("group.x", "group.x", QUrl::fromLocalFile(group()))});
        return application;
    }
    // The two layouts differ in every file, and each is always the same.
    void layOut(int variant) const
    {
        QDir(data()).removeRecursively();
        QDir(group()).removeRecursively();
        const auto put = [&](const QString &folder, const QString &path, int size) {
            writeFile(folder + path, QByteArray(size, char('a' + variant)) + path.toUtf8());
            setTime(folder + path, 1600000000 + variant);
        };
        for (int i = 0; i < 150; ++i)
            put(data(), QString("/Documents/d%1/f%2").arg(i % 10).arg(i + variant), 8192);
        put(data(), "/Library/Preferences/p.plist", 100);
        put(data(), "/tmp/kept", 10);
        for (int i = 0; i < 40; ++i)
            put(group(), QString("/Shared/s%1").arg(i * (variant + 1)), 4096);
    }
    std::string containers() const { return snapshot(data()) + '\n' + snapshot(group()); }
    // Without the description, which is dated when it is written.
    std::string archived() const
    {
        return snapshot(at("Big.xcappdata/AppData")) + '\n' + snapshot(at("Big.xcappdata/group.x"));
    }
};

// Runs the kind of task in a child, killed `delay` after the task starts
// (never when there is none): whether it was killed, and how long it ran.
std::pair<bool, microseconds> runChild(const QString &kind, const Tree &tree,
                                       std::optional<microseconds> delay)
{
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    const pid_t pid =
        spawnThisTest({std::string(kChild) + '=' + (kind + ' ' + tree.root).toStdString(),
                       "CORVANE_STATE_DIR=" + nativeOf(tree.at("state")),
                       "CORVANE_HOME=" + nativeOf(tree.at("home"))},
                      ready[1]);
    ::close(ready[1]);
    pollfd started{ready[0], POLLIN, 0};
    char byte = 0;
    EXPECT_TRUE(::poll(&started, 1, 60000) == 1 && ::read(ready[0], &byte, 1) == 1);
    ::close(ready[0]);
    const auto start = std::chrono::steady_clock::now();
    if (delay) {
        std::this_thread::sleep_for(*delay);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    return {WIFSIGNALED(status),
            std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start)};
}

} // namespace

TEST(ArchiveTaskKill, AKilledTaskIsUndoneWholeByTheNextStart)
{
    if (qEnvironmentVariableIsSet(kChild)) {
        const QStringList spec = qEnvironmentVariable(kChild).split(' ');
        const Tree tree{spec[1]};
        const auto application = tree.application();
        const QUrl archive = QUrl::fromLocalFile(tree.at("Big.xcappdata"));
        ASSERT_EQ(::write(3, "r", 1), 1);
        if (spec[0] == "recover") {
            TaskRecovery::recover(tree.journal());
            return;
        }
        const auto containers = ArchiveTask::containersOf(*application);
        if (spec[0] == "import")
            return std::make_shared<ImportTask>(application)->run(containers, archive);
        return std::make_shared<ExportTask>(application)->run(containers, archive);
    }
    // The sanitized pass looks for memory faults and runs several times slower:
    // fewer kill points there keep the test far from its time limit.
    const int rounds = qEnvironmentVariableIsSet(kRounds) ? qEnvironmentVariableIntValue(kRounds)
                                                          : (test::sanitized ? 8 : 20);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    QTemporaryDir dir;
    const Tree tree{dir.path()};
    const TaskJournal journal = tree.journal();

    // The archive of each layout; the containers before and after an import
    // of layout 0, with something the reset does not erase, into layout 1.
    std::string archives[2];
    for (int variant : {1, 0}) {
        tree.layOut(variant);
        ASSERT_FALSE(runChild("export", tree, std::nullopt).first);
        archives[variant] = tree.archived();
    }
    ASSERT_TRUE(writeFile(tree.at("Big.xcappdata/AppData/tmp/added/x"), "x"));
    tree.layOut(1);
    const std::string before = tree.containers();
    ASSERT_FALSE(runChild("import", tree, std::nullopt).first);
    const std::string after = tree.containers();

    // Kills of a replay fall within a window as long as the longest replay.
    microseconds replay(2000);
    for (const QString kind : {"import", "export"}) {
        // Kills fall anywhere in a run of median length.
        std::vector<microseconds> runs;
        for (int run = 0; run < 3; ++run, tree.layOut(1))
            runs.push_back(runChild(kind, tree, std::nullopt).second);
        std::sort(runs.begin(), runs.end());
        std::map<std::string, int> outcomes;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(QString("%1 %2, seed %3").arg(kind).arg(round).arg(seed).toStdString());
            // An export writes the layout the archive does not hold.
            const std::string old = tree.archived();
            const int variant = kind == "import" || old == archives[0] ? 1 : 0;
            tree.layOut(variant);
            const microseconds delay(
                std::uniform_int_distribution<qint64>(0, runs[1].count())(random));
            std::string outcome = runChild(kind, tree, delay).first ? "killed, " : "finished, ";
            // The start after the kill may be killed in turn, anywhere in its
            // replay; the start after that takes over.
            if (!journal.entries().empty()) {
                const microseconds replayDelay(
                    std::uniform_int_distribution<qint64>(0, replay.count())(random));
                const auto [killed, took] = runChild("recover", tree, replayDelay);
                // The window widens until it holds whole replays.
                if (killed)
                    outcome += "replay killed, ";
                replay = killed ? std::min(replay * 5 / 4, runs[1]) : std::max(replay, took);
            }
            TaskRecovery::recover(journal);

            const std::string now = kind == "import" ? tree.containers() : tree.archived();
            if (kind == "import")
                outcome += now == before ? "as before" : now == after ? "imported" : "MIXED";
            else
                outcome += now == old                 ? "old archive"
                           : now == archives[variant] ? "new archive"
                                                      : "MIXED";
            EXPECT_EQ(outcome.find("MIXED"), std::string::npos);
            EXPECT_TRUE(kind == "import" || ArchiveTask::readInfo(QUrl::fromLocalFile(
                                                tree.at("Big.xcappdata/AppDataInfo.plist"))));
            EXPECT_EQ(tree.hidden(), QStringList());
            EXPECT_TRUE(journal.entries().empty());
            ++outcomes[outcome];
        }
        std::printf("%s, %d runs (seed %u, median run %lld us):", qPrintable(kind), rounds, seed,
                    qint64(runs[1].count()));
        for (const auto &[outcome, count] : outcomes)
            std::printf(" %d %s;", count, outcome.c_str());
        std::printf("\n");
    }
}
