#include "BenchApplication.h"
#include "BenchContainerApp.h"

#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

using namespace corvane;
using bench::median;

namespace {

constexpr int kFolders = 200;
constexpr int kFiles = 5000;
constexpr int kLargeFiles = 125;

// A data container of 5,000 files in 200 folders below Documents: 125 files
// of 1 MiB and the rest between 1 KiB and 64 KiB, spread evenly on a log
// scale, about 200 MB in all.
struct ArchiveTree {
    QTemporaryDir dir;
    bench::ContainerApp app{dir.path(), "com.example.big", "Big"};
    std::shared_ptr<Application> application = app.application;
    std::shared_ptr<Container> container = app.container;
    qint64 bytes = 0;

    ArchiveTree()
    {
        std::mt19937 random(29);
        std::uniform_real_distribution<double> exponent(10.0, 16.0);
        QByteArray block(1 << 20, '\0');
        for (char &byte : block)
            byte = char(random());
        for (int i = 0; i < kFiles; ++i) {
            const QString folder = dir.path() + QString("/data/Documents/d%1").arg(i % kFolders);
            QDir().mkpath(folder);
            const qint64 size =
                i % (kFiles / kLargeFiles) == 0 ? (1 << 20) : qint64(std::exp2(exponent(random)));
            QFile file(folder + QString("/f%1.bin").arg(i));
            if (!file.open(QIODevice::WriteOnly) || file.write(block.left(size)) != size)
                std::abort();
            bytes += size;
        }
    }

    QString path(const QString &relative) const { return dir.path() + "/" + relative; }
};

double seconds(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void copyTree(const QString &from, const QString &to)
{
    if (QProcess::execute("cp", {"-a", from, to}) != 0)
        std::abort();
}

// Export against `cp -a` of the same folders, and import into empty
// containers against `cp -a` of the archive's folders, alternating within
// each round; the medians of three rounds.
void BM_ArchiveAgainstCopy(benchmark::State &state)
{
    ArchiveTree tree;
    std::vector<double> copies, exports, archiveCopies, imports;
    for (auto _ : state) {
        for (int round = 0; round < 3; ++round) {
            copies.push_back(seconds([&] { copyTree(tree.path("data"), tree.path("copy")); }));
            auto exporter = std::make_shared<ExportTask>(tree.application);
            const QUrl archive = QUrl::fromLocalFile(tree.path("Big.xcappdata"));
            exports.push_back(seconds([&] { exporter->run({tree.container}, archive); }));
            if (exporter->completedCount() != kFiles + kFolders + 1)
                state.SkipWithError("the export did not copy everything");

            // Both write into the container just emptied: ext4 is slower to
            // make files where a large tree was just deleted.
            QDir(tree.path("data/Documents")).removeRecursively();
            archiveCopies.push_back(seconds([&] {
                copyTree(tree.path("Big.xcappdata/AppData/Documents"), tree.path("data/Documents"));
            }));
            QDir(tree.path("data/Documents")).removeRecursively();
            auto importer = std::make_shared<ImportTask>(tree.application);
            imports.push_back(seconds([&] { importer->run({tree.container}, archive); }));
            if (importer->completedCount() != kFiles + kFolders + 1)
                state.SkipWithError("the import did not copy everything");

            for (const char *folder : {"copy", "Big.xcappdata"})
                QDir(tree.path(folder)).removeRecursively();
        }
    }
    state.counters["MB"] = double(tree.bytes) / 1e6;
    state.counters["cp_ms"] = median(copies) * 1e3;
    state.counters["export_ms"] = median(exports) * 1e3;
    state.counters["export_ratio"] = median(exports) / median(copies);
    state.counters["cp_archive_ms"] = median(archiveCopies) * 1e3;
    state.counters["import_ms"] = median(imports) * 1e3;
    state.counters["import_ratio"] = median(imports) / median(archiveCopies);
}
BENCHMARK(BM_ArchiveAgainstCopy)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
