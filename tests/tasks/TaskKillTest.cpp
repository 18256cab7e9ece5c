#include "TaskTestSupport.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/TaskRecovery.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
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

// Children of this test, each started ahead of its run so that its start
// overlaps the run before: it reads what to run on its descriptor 3, and
// answers there once it begins; told nothing, it ends.
class Children {
public:
    explicit Children(const Tree &tree) : m_tree(tree), m_next(start()) {}
    ~Children() { m_next.wait(); }

    // Runs "<import|export|recover> [<clock>]" in a child, killed `delay`
    // after it begins (never when there is none): how long it ran, unless it
    // was killed. With a clock, the journal dates its entry by that, and the
    // import is killed once it has copied a few files.
    std::optional<microseconds> run(const QString &what,
                                    std::optional<microseconds> delay = std::nullopt)
    {
        const Child child = std::exchange(m_next, start());
        const QByteArray line = what.toUtf8() + '\n';
        EXPECT_EQ(::write(child.socket, line.constData(), size_t(line.size())), line.size());
        pollfd began{child.socket, POLLIN, 0};
        char byte = 0;
        EXPECT_TRUE(::poll(&began, 1, 60000) == 1 && ::read(child.socket, &byte, 1) == 1);
        const auto start = std::chrono::steady_clock::now();
        if (delay) {
            std::this_thread::sleep_for(*delay);
            ::kill(child.pid, SIGKILL);
        }
        const int status = child.wait();
        EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
        if (WIFSIGNALED(status))
            return std::nullopt;
        return std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start);
    }

private:
    struct Child {
        pid_t pid;
        int socket;

        int wait() const
        {
            ::close(socket);
            int status = 0;
            EXPECT_EQ(::waitpid(pid, &status, 0), pid);
            return status;
        }
    };

    Child start() const
    {
        // Kept from the other children, which would hold it open.
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        const pid_t pid = spawnThisTest({std::string(kChild) + '=' + nativeOf(m_tree.root),
                                         "CORVANE_STATE_DIR=" + nativeOf(m_tree.at("state")),
                                         "CORVANE_HOME=" + nativeOf(m_tree.at("home"))},
                                        ends[1]);
        ::close(ends[1]);
        return {pid, ends[0]};
    }

    const Tree &m_tree;
    Child m_next;
};

// An import whose program is killed once it has copied a few entries.
struct ImportKilledMidway : ImportTask {
    using ImportTask::ImportTask;
    void copyEntry(const File &file, const std::filesystem::path &destination) override
    {
        ImportTask::copyEntry(file, destination);
        if (++copied == 20)
            ::raise(SIGKILL);
    }
    int copied = 0;
};

// The child's side of Children::run().
void runAsChild()
{
    const Tree tree{qEnvironmentVariable(kChild)};
    QByteArray line;
    char byte = 0;
    while (::read(3, &byte, 1) == 1 && byte != '\n')
        line += byte;
    const QStringList what = QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts);
    if (what.isEmpty())
        return;
    if (what.size() == 2) {
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
    if (what.size() == 2)
        return std::make_shared<ImportKilledMidway>(application)->run(containers, archive);
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
    std::map<QString, microseconds> runs;
    const auto runWhole = [&](const QString &kind) {
        const auto took = children.run(kind);
        ASSERT_TRUE(took.has_value());
        const auto shortest = runs.try_emplace(kind, *took).first;
        shortest->second = std::min(shortest->second, *took);
    };
    std::string archives[2];
    for (int variant : {1, 0}) {
        tree.layOut(variant);
        runWhole("export");
        archives[variant] = tree.archived();
    }
    ASSERT_TRUE(writeFile(tree.at("Big.xcappdata/AppData/tmp/added/x"), "x"));
    tree.layOut(1);
    const std::string before = tree.containers();
    runWhole("import");
    tree.layOut(1);
    runWhole("import");
    const std::string after = tree.containers();

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
            std::string outcome = children.run(kind, delay) ? "finished, " : "killed, ";
            // The start after the kill may be killed in turn, anywhere in its
            // replay; the start after that takes over.
            if (!journal.entries().empty()) {
                const microseconds replayDelay(
                    std::uniform_int_distribution<qint64>(0, replay.count())(random));
                const auto took = children.run("recover", replayDelay);
                // The window widens until it holds whole replays.
                if (!took)
                    outcome += "replay killed, ";
                replay = took ? std::max(replay, *took) : std::min(replay * 5 / 4, window);
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
    ASSERT_TRUE(children.run("export").has_value());
    tree.layOut(1);
    const std::string before = tree.containers();

    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000000;
    for (const qint64 clock : {now, now - qint64(3600) * 1000000000})
        ASSERT_FALSE(children.run(QString("import %1").arg(clock)).has_value());
    const auto entries = tree.journal().entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_LT(entries[0].firstWritten, entries[1].firstWritten);

    TaskRecovery::recover(tree.journal());
    EXPECT_EQ(tree.containers(), before);
    EXPECT_EQ(tree.hidden(), QStringList());
    EXPECT_TRUE(tree.journal().entries().empty());
}
