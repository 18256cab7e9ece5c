#include "BenchApplication.h"
#include "BenchContainerApp.h"

#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <vector>

using namespace corvane;
using bench::median;

namespace {

struct Sizes {
    int folders;
    int files;
    int largeFiles;
    int rounds;
};

// 5,000 files in 200 folders: 125 of 1 MiB and the rest between 1 KiB and
// 64 KiB, spread evenly on a log scale, about 200 MB in all, seven rounds
// for their medians; the quick run has a fortieth of that, once.
Sizes sizes()
{
    return bench::quick() ? Sizes{5, 125, 3, 1} : Sizes{200, 5000, 125, 7};
}

// A data container whose Documents folder holds the tree above.
struct ArchiveTree {
    Sizes size = sizes();
    QTemporaryDir dir;
    bench::ContainerApp app{dir.isValid() ? dir.path() : QString(), "com.example.big", "Big"};
    std::shared_ptr<Application> application = app.application;
    std::shared_ptr<Container> container = app.container;
    qint64 bytes = 0;
    QString problem;

    ArchiveTree()
    {
        if (!dir.isValid()) {
            problem = "cannot make a temporary folder: " + dir.errorString();
            return;
        }
        std::mt19937 random(29);
        std::uniform_real_distribution<double> exponent(10.0, 16.0);
        QByteArray block(1 << 20, '\0');
        for (char &byte : block)
            byte = char(random());
        for (int i = 0; i < size.files && problem.isEmpty(); ++i) {
            const QString folder = documents() + QString("/d%1").arg(i % size.folders);
            QDir().mkpath(folder);
            const qint64 length = i % (size.files / size.largeFiles) == 0
                                      ? (1 << 20)
                                      : qint64(std::exp2(exponent(random)));
            QFile file(folder + QString("/f%1.bin").arg(i));
            if (!file.open(QIODevice::WriteOnly) || file.write(block.left(length)) != length)
                problem = "cannot write " + file.fileName() + ": " + file.errorString();
            bytes += length;
        }
    }

    // Every folder, the files and Documents itself.
    qint64 entries() const { return size.files + size.folders + 1; }
    QString documents() const { return app.data + "/Documents"; }
    QString path(const QString &relative) const { return dir.path() + "/" + relative; }
};

double seconds(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::optional<QString> runTool(const QString &program, const QStringList &arguments)
{
    if (QProcess::execute(program, arguments) == 0)
        return std::nullopt;
    return program + " " + arguments.join(' ') + " failed";
}

// `cp -a` of a tree, then a write-out of its file system, timed apart.
struct CopyTimes {
    double copy = 0;
    double copyAndSync = 0;
};

std::optional<QString> copyTree(const QString &from, const QString &to, CopyTimes &times)
{
    std::optional<QString> problem;
    const auto start = std::chrono::steady_clock::now();
    problem = runTool("cp", {"-a", from, to});
    times.copy = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!problem)
        problem = runTool("sync", {"-f", to});
    times.copyAndSync =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return problem;
}

std::optional<QString> taskProblem(const Task &task, qint64 entries, const char *what)
{
    if (!task.hasFailed() && !task.isCancelled() && task.completedCount() == entries)
        return std::nullopt;
    return QString("the %1 copied %2 of %3 entries and ended with “%4”")
        .arg(what)
        .arg(task.completedCount())
        .arg(entries)
        .arg(task.localisedDetailDescription().value_or(""));
}

// What earlier steps left to write out is not counted against the next one.
std::optional<QString> settle(const ArchiveTree &tree)
{
    return runTool("sync", {"-f", tree.dir.path()});
}

struct Figures {
    std::vector<double> copies, copiesSynced, exports, archiveCopies, archiveCopiesSynced, imports;
};

// One round: the export against `cp -a` of the same folders and a sync, and
// the import into the emptied container against `cp -a` of the archive's
// folders and a sync, alternating.
std::optional<QString> round(ArchiveTree &tree, Figures &figures)
{
    CopyTimes copy;
    if (auto problem = settle(tree))
        return problem;
    if (auto problem = copyTree(tree.app.data, tree.path("copy"), copy))
        return problem;
    figures.copies.push_back(copy.copy);
    figures.copiesSynced.push_back(copy.copyAndSync);

    auto exporter = std::make_shared<ExportTask>(tree.application);
    const QUrl archive = QUrl::fromLocalFile(tree.path("Big.xcappdata"));
    if (auto problem = settle(tree))
        return problem;
    figures.exports.push_back(seconds([&] { exporter->run({tree.container}, archive); }));
    if (auto problem = taskProblem(*exporter, tree.entries(), "export"))
        return problem;

    // Both write into the container just emptied: ext4 is slower to make
    // files where a large tree was just deleted.
    QDir(tree.documents()).removeRecursively();
    if (auto problem = settle(tree))
        return problem;
    if (auto problem =
            copyTree(tree.path("Big.xcappdata/AppData/Documents"), tree.documents(), copy))
        return problem;
    figures.archiveCopies.push_back(copy.copy);
    figures.archiveCopiesSynced.push_back(copy.copyAndSync);
    QDir(tree.documents()).removeRecursively();

    auto importer = std::make_shared<ImportTask>(tree.application);
    if (auto problem = settle(tree))
        return problem;
    figures.imports.push_back(seconds([&] { importer->run({tree.container}, archive); }));
    if (auto problem = taskProblem(*importer, tree.entries(), "import"))
        return problem;

    for (const char *folder : {"copy", "Big.xcappdata"})
        QDir(tree.path(folder)).removeRecursively();
    return std::nullopt;
}

void BM_ArchiveAgainstCopy(benchmark::State &state)
{
    ArchiveTree tree;
    if (!tree.problem.isEmpty())
        return state.SkipWithError(tree.problem.toUtf8().constData());
    Figures figures;
    for (auto _ : state) {
        for (int i = 0; i < tree.size.rounds; ++i) {
            if (auto problem = round(tree, figures))
                return state.SkipWithError(problem->toUtf8().constData());
        }
    }
    state.counters["MB"] = double(tree.bytes) / 1e6;
    state.counters["cp_ms"] = median(figures.copies) * 1e3;
    state.counters["cp_sync_ms"] = median(figures.copiesSynced) * 1e3;
    state.counters["export_ms"] = median(figures.exports) * 1e3;
    state.counters["export_ratio"] = median(figures.exports) / median(figures.copiesSynced);
    state.counters["cp_archive_ms"] = median(figures.archiveCopies) * 1e3;
    state.counters["cp_sync_archive_ms"] = median(figures.archiveCopiesSynced) * 1e3;
    state.counters["import_ms"] = median(figures.imports) * 1e3;
    state.counters["import_ratio"] = median(figures.imports) / median(figures.archiveCopiesSynced);
}
BENCHMARK(BM_ArchiveAgainstCopy)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
