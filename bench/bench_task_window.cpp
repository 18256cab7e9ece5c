#include "BenchApplication.h"
#include "BenchContainerApp.h"

#include "core/Observer.h"
#include "platform/queues/DispatchQueue.h"
#include "tasks/ExportTask.h"
#include "tasks/TaskManager.h"
#include "tasks/TaskRowView.h"
#include "tasks/TaskViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

using namespace corvane;
using bench::median;

namespace {

// 50,000 small files in 500 folders below Documents, five rounds; the quick
// run has a fiftieth of them, once.
struct Sizes {
    int folders;
    int files;
    int rounds;
};

Sizes sizes()
{
    return bench::quick() ? Sizes{10, 1000, 1} : Sizes{500, 50000, 5};
}

struct SmallFilesTree {
    Sizes size = sizes();
    QTemporaryDir dir;
    bench::ContainerApp app{dir.isValid() ? dir.path() : QString(), "com.example.many", "Many"};
    std::shared_ptr<Application> application = app.application;
    QString problem;

    SmallFilesTree()
    {
        if (!dir.isValid())
            problem = "cannot make a temporary folder: " + dir.errorString();
        for (int i = 0; i < size.files && problem.isEmpty(); ++i) {
            const QString folder = app.data + QString("/Documents/d%1").arg(i % size.folders);
            if (i < size.folders)
                QDir().mkpath(folder);
            QFile file(folder + QString("/f%1.txt").arg(i));
            if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(i)) <= 0)
                problem = "cannot write " + file.fileName() + ": " + file.errorString();
        }
    }
};

struct Run {
    double seconds = 0;
    int refreshes = 0;
    QString problem;
};

// Starts the export as the menu does and keeps the event loop turning on the
// main thread until it is complete, with or without the task window.
Run exportOnce(SmallFilesTree &tree, bool windowOpen)
{
    auto manager = TaskManager::make();
    std::unique_ptr<TaskViewController> window;
    if (windowOpen) {
        window = std::make_unique<TaskViewController>(manager);
        window->show();
    }
    const QUrl archive = QUrl::fromLocalFile(tree.dir.path() + "/Many.xcappdata");
    const auto start = std::chrono::steady_clock::now();
    auto task = manager->startExport(tree.application, archive);
    while (!task->isComplete())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DispatchQueue::waitUntilIdle(std::chrono::seconds(60));
    DispatchQueue::drainMain();
    if (window)
        run.refreshes = window->rowFor(task)->refreshCount();
    if (task->completedCount() != tree.size.files + tree.size.folders + 1)
        run.problem = QString("the export copied %1 entries and ended with “%2”")
                          .arg(task->completedCount())
                          .arg(task->localisedDetailDescription().value_or(""));
    window.reset();
    QDir(archive.toLocalFile()).removeRecursively();
    return run;
}

// The export with the task window open against the same export with it
// closed, alternating, medians of five rounds; the window's refreshes against
// the updates the task posted.
void BM_ExportWithTaskWindow(benchmark::State &state)
{
    bench::ensureApplication();
    SmallFilesTree tree;
    if (!tree.problem.isEmpty())
        return state.SkipWithError(tree.problem.toUtf8().constData());
    std::atomic<long> updates{0};
    ObserverCollection observers;
    observers.append(
        observeNotification<Task>(Task::didUpdate, nullptr, nullptr,
                                  [&](const Notification &, const TaskPtr &) { ++updates; }));
    std::vector<double> closed, open;
    int refreshes = 0;
    long updatesPerExport = 0;
    for (auto _ : state) {
        for (int round = 0; round < tree.size.rounds; ++round) {
            const Run withoutWindow = exportOnce(tree, false);
            if (!withoutWindow.problem.isEmpty())
                return state.SkipWithError(withoutWindow.problem.toUtf8().constData());
            closed.push_back(withoutWindow.seconds);
            const long before = updates.load();
            const Run run = exportOnce(tree, true);
            if (!run.problem.isEmpty())
                return state.SkipWithError(run.problem.toUtf8().constData());
            open.push_back(run.seconds);
            refreshes = std::max(refreshes, run.refreshes);
            updatesPerExport = updates.load() - before;
        }
    }
    state.counters["closed_ms"] = median(closed) * 1e3;
    state.counters["open_ms"] = median(open) * 1e3;
    state.counters["ratio"] = median(open) / median(closed);
    state.counters["updates"] = double(updatesPerExport);
    state.counters["row_refreshes"] = refreshes;
}
BENCHMARK(BM_ExportWithTaskWindow)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
