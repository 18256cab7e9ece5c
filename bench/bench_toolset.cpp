#include "core/Toolset.h"
#include "platform/queues/DispatchQueue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

extern char **environ;

using namespace corvane;

namespace {

// An Xcode bundle whose simctl is the small compiled tool.
struct BenchXcode {
    QTemporaryDir dir;
    std::shared_ptr<Toolset> toolset;

    BenchXcode()
    {
        const QString bin = dir.path() + "/Xcode.app/Contents/Developer/usr/bin";
        QDir().mkpath(bin);
        QFile::copy(QStringLiteral(CORVANE_BENCH_TOOLS_DIR) + "/benchtool_print_line",
                    bin + "/simctl");
        toolset = Toolset::make(QUrl::fromLocalFile(dir.path() + "/Xcode.app"));
        if (!toolset)
            std::abort();
    }
};

BenchXcode &xcode()
{
    static BenchXcode instance;
    return instance;
}

// The floor under any runner: the same tool through posix_spawn, its output
// read to the end in one growing buffer, and waitpid. The byte count read.
std::size_t bareRun(const QStringList &arguments)
{
    const QByteArray path = QFile::encodeName(xcode().toolset->simctlPath().toLocalFile());
    std::vector<QByteArray> bytes{path};
    for (const QString &argument : arguments)
        bytes.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &each : bytes)
        argv.push_back(each.data());
    argv.push_back(nullptr);

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        std::abort();
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);

    std::string output;
    output.resize(65536);
    std::size_t used = 0;
    for (;;) {
        if (used == output.size())
            output.resize(output.size() * 2);
        const ssize_t count = ::read(pipe[0], output.data() + used, output.size() - used);
        if (count > 0)
            used += std::size_t(count);
        else if (count == 0 || errno != EINTR)
            break;
    }
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
    return used;
}

// Each iteration runs the tool through the runner and through the bare floor,
// one after the other on a worker (where the program runs its tools), so both
// see the same machine; the reported time is the runner's, with the floor and
// the ratio as counters. Both are timed on the worker: the hop there and back
// counts for neither.
void runAgainstFloor(benchmark::State &state, const QStringList &arguments, qsizetype expectedSize)
{
    auto toolset = xcode().toolset;
    using Clock = std::chrono::steady_clock;
    Clock::duration runner{};
    Clock::duration floor{};
    for (auto _ : state) {
        const auto [runnerTime, floorTime, expected] = DispatchQueue::userInitiated()->sync([&] {
            const auto started = Clock::now();
            auto output = toolset->run(arguments);
            const auto ran = Clock::now();
            const std::size_t bare = bareRun(arguments);
            const auto floored = Clock::now();
            benchmark::DoNotOptimize(output);
            return std::tuple{ran - started, floored - ran,
                              output && output->size() == expectedSize &&
                                  bare >= std::size_t(expectedSize)};
        });
        if (!expected)
            state.SkipWithError("unexpected output");
        state.SetIterationTime(std::chrono::duration<double>(runnerTime).count());
        runner += runnerTime;
        floor += floorTime;
    }
    const double iterations = double(state.iterations());
    const double floorMs = std::chrono::duration<double, std::milli>(floor).count() / iterations;
    state.counters["floor_ms"] = floorMs;
    state.counters["ratio"] =
        std::chrono::duration<double, std::milli>(runner).count() / iterations / floorMs;
}

void BM_ToolsetRunOneLine(benchmark::State &state)
{
    runAgainstFloor(state, {"list"}, QStringLiteral("== Devices ==").size());
}
BENCHMARK(BM_ToolsetRunOneLine)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ToolsetRunFourMiB(benchmark::State &state)
{
    runAgainstFloor(state, {"big", QString::number(4 * 1024 * 1024)}, 4 * 1024 * 1024);
}
BENCHMARK(BM_ToolsetRunFourMiB)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
