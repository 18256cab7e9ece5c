#include "TaskTestSupport.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/TaskRecovery.h"

#include <fcntl.h>
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

// The tree's root: the process is a child to be killed (Children).
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
        for (int i = 0; i < 40; ++i)
            put(data(), QString("/Documents/d%1/f%2").arg(i % 10).arg(i + variant), 8192);
        put(data(), "/Library/Preferences/p.plist", 100);
        put(data(), "/tmp/kept", 10);
        for (int i = 0; i < 12; ++i)
            put(group(), QString("/Shared/s%1").arg(i * (variant + 1)), 4096);
    }
    std::string containers() const { return snapshot(data()) + '\n' + snapshot(group()); }
    // Without the description, which is dated when it is written.
    std::string archived() const
    {
        return snapshot(at("Big.xcappdata/AppData")) + '\n' + snapshot(at("Big.xcappdata/group.x"));
    }
};

// Children of this test, each started ahead of its round, so that its start
// overlaps the round before: it waits on its descriptor 4 for what to run,
// and says on its descriptor 3 when it begins.
class Children {
public:
    // What a child ran: whether it was killed, and how long it ran.
    struct Run {
        bool killed;
        microseconds took;
    };

    explicit Children(const Tree &tree) : m_tree(tree), m_next(start()) {}
    ~Children() { m_next.dismiss(); }

    // Runs "<import|export|recover> [<clock> <files>]" in a child, killed
    // `delay` after it begins (never when there is none). With a clock, the
    // journal dates its entry by that; with a number of files, the task
    // stops once it has copied that many, and the child is killed there.
    Run run(const QString &what, std::optional<microseconds> delay = std::nullopt)
    {
        Child child = std::exchange(m_next, start());
        const QByteArray line = what.toUtf8() + '\n';
        EXPECT_EQ(::write(child.go, line.constData(), size_t(line.size())), line.size());
        EXPECT_EQ(child.read(), 'r');
        const auto began = std::chrono::steady_clock::now();
        if (what.count(' ') == 2) {
            EXPECT_EQ(child.read(), 'h');
            ::kill(child.pid, SIGKILL);
        } else if (delay) {
            std::this_thread::sleep_for(*delay);
            ::kill(child.pid, SIGKILL);
        }
        const int status = child.wait();
        EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
        return {WIFSIGNALED(status),
                std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - began)};
    }

private:
    struct Child {
        pid_t pid = -1;
        int ready = -1;
        int go = -1;

        char read() const
        {
            pollfd said{ready, POLLIN, 0};
            char byte = 0;
            return ::poll(&said, 1, 60000) == 1 && ::read(ready, &byte, 1) == 1 ? byte : 0;
        }
        int wait()
        {
            ::close(std::exchange(go, -1));
            ::close(std::exchange(ready, -1));
            int status = 0;
            EXPECT_EQ(::waitpid(pid, &status, 0), pid);
            return status;
        }
        // Told nothing, it ends.
        void dismiss() { wait(); }
    };

    Child start() const
    {
        // Out of the way of descriptors 3 and 4, and kept from other children.
        const auto pipeAbove = [](int ends[2]) {
            int made[2];
            EXPECT_EQ(::pipe(made), 0);
            for (int end : {0, 1}) {
                ends[end] = ::fcntl(made[end], F_DUPFD_CLOEXEC, 10);
                ::close(made[end]);
            }
        };
        int ready[2], go[2];
        pipeAbove(ready);
        pipeAbove(go);
        Child child;
        child.pid = spawnThisTest({std::string(kChild) + '=' + nativeOf(m_tree.root),
                                   "CORVANE_STATE_DIR=" + nativeOf(m_tree.at("state")),
                                   "CORVANE_HOME=" + nativeOf(m_tree.at("home"))},
                                  ready[1], go[0]);
        ::close(ready[1]);
        ::close(go[0]);
        child.ready = ready[0];
        child.go = go[1];
        return child;
    }

    const Tree &m_tree;
    Child m_next;
};

// An import that stops for good once it has copied `files` entries, and says so.
class HaltingImport : public ImportTask {
public:
    HaltingImport(std::shared_ptr<Application> application, int files)
        : ImportTask(std::move(application)), m_left(files)
    {
    }
    void copyEntry(const File &file, const std::filesystem::path &destination) override
    {
        ImportTask::copyEntry(file, destination);
        if (--m_left > 0)
            return;
        [[maybe_unused]] const auto said = ::write(3, "h", 1);
        for (;;)
            ::pause();
    }

private:
    int m_left;
};

// The child's side of Children::run().
void runAsChild()
{
    const Tree tree{qEnvironmentVariable(kChild)};
    QByteArray line;
    char byte = 0;
    while (::read(4, &byte, 1) == 1 && byte != '\n')
        line += byte;
    const QStringList what = QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts);
    if (what.isEmpty())
        return;
    if (what.size() == 3) {
        const qint64 clock = what[1].toLongLong();
        TaskJournal::setClock([clock] { return clock; });
    }
    const auto application = tree.application();
    const QUrl archive = QUrl::fromLocalFile(tree.at("Big.xcappdata"));
    ASSERT_EQ(::write(3, "r", 1), 1);
    if (what[0] == "recover") {
        TaskRecovery::recover(tree.journal());
        return;
    }
    const auto containers = ArchiveTask::containersOf(*application);
    if (what.size() == 3)
        return std::make_shared<HaltingImport>(application, what[2].toInt())
            ->run(containers, archive);
    if (what[0] == "import")
        return std::make_shared<ImportTask>(application)->run(containers, archive);
    return std::make_shared<ExportTask>(application)->run(containers, archive);
}

} // namespace

TEST(ArchiveTaskKill, AKilledTaskIsUndoneWholeByTheNextStart)
{
    if (qEnvironmentVariableIsSet(kChild))
        return runAsChild();
    // Kill points are spread evenly over a run, so that a few of them reach
    // every step; scripts/kill-loop asks for many. The sanitized pass looks
    // for memory faults and runs several times slower.
    const int rounds = qEnvironmentVariableIsSet(kRounds) ? qEnvironmentVariableIntValue(kRounds)
                                                          : (test::sanitized ? 3 : 6);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    QTemporaryDir dir;
    const Tree tree{dir.path()};
    const TaskJournal journal = tree.journal();
    Children children(tree);

    // The archive of each layout; the containers before and after an import
    // of layout 0, with something the reset does not erase, into layout 1.
    // Kills fall anywhere in the shorter of two whole runs, and a little
    // after: one beside other work may take far longer.
    std::string archives[2];
    std::map<QString, microseconds> runs{{"export", microseconds::max()},
                                         {"import", microseconds::max()}};
    for (int variant : {1, 0}) {
        tree.layOut(variant);
        const auto [killed, took] = children.run("export");
        ASSERT_FALSE(killed);
        runs["export"] = std::min(runs["export"], took);
        archives[variant] = tree.archived();
    }
    ASSERT_TRUE(writeFile(tree.at("Big.xcappdata/AppData/tmp/added/x"), "x"));
    tree.layOut(1);
    const std::string before = tree.containers();
    std::string after;
    for (int run = 0; run < 2; ++run) {
        tree.layOut(1);
        const auto [killed, took] = children.run("import");
        ASSERT_FALSE(killed);
        runs["import"] = std::min(runs["import"], took);
        after = tree.containers();
    }

    // Kills of a replay fall within a window as long as the longest replay.
    microseconds replay(2000);
    for (const QString kind : {"import", "export"}) {
        // The last kills fall after the end.
        const microseconds window = runs[kind] * 5 / 4;
        std::map<std::string, int> outcomes;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(QString("%1 %2, seed %3").arg(kind).arg(round).arg(seed).toStdString());
            // An export writes the layout the archive does not hold.
            const std::string old = tree.archived();
            const int variant = kind == "import" || old == archives[0] ? 1 : 0;
            tree.layOut(variant);
            const microseconds delay(std::uniform_int_distribution<qint64>(
                window.count() * round / rounds, window.count() * (round + 1) / rounds)(random));
            std::string outcome = children.run(kind, delay).killed ? "killed, " : "finished, ";
            // The start after the kill may be killed in turn, anywhere in its
            // replay; the start after that takes over.
            if (!journal.entries().empty()) {
                const microseconds replayDelay(
                    std::uniform_int_distribution<qint64>(0, replay.count())(random));
                const auto [killed, took] = children.run("recover", replayDelay);
                // The window widens until it holds whole replays.
                if (killed)
                    outcome += "replay killed, ";
                replay = killed ? std::min(replay * 5 / 4, window) : std::max(replay, took);
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
        std::printf("%s, %d runs (seed %u, run %lld us):", qPrintable(kind), rounds, seed,
                    qint64(window.count()));
        for (const auto &[outcome, count] : outcomes)
            std::printf(" %d %s;", count, outcome.c_str());
        std::printf("\n");
    }
}

// Two imports of one container, each killed while it copies, with the clock
// stepped back between them (as when it is corrected): the next start
// undoes the newer first, so that what the container held before the first
// comes back.
TEST(ArchiveTaskKill, ImportsKilledAcrossAClockSteppedBackAreUndoneNewestFirst)
{
    if (qEnvironmentVariableIsSet(kChild))
        return runAsChild();
    QTemporaryDir dir;
    const Tree tree{dir.path()};
    Children children(tree);
    tree.layOut(0);
    ASSERT_FALSE(children.run("export").killed);
    tree.layOut(1);
    const std::string before = tree.containers();

    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000000;
    for (const qint64 clock : {now, now - qint64(3600) * 1000000000})
        ASSERT_TRUE(children.run(QString("import %1 20").arg(clock)).killed);
    const auto entries = tree.journal().entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_LT(entries[0].firstWritten, entries[1].firstWritten);
    EXPECT_NE(tree.containers(), before);

    TaskRecovery::recover(tree.journal());
    EXPECT_EQ(tree.containers(), before);
    EXPECT_EQ(tree.hidden(), QStringList());
    EXPECT_TRUE(tree.journal().entries().empty());
}
