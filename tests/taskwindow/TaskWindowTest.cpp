#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "tasks/FinishingWindow.h"
#include "tasks/TaskManager.h"
#include "tasks/TaskRowView.h"
#include "tasks/TaskViewController.h"
#include "tasks/TaskWindowController.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QToolButton>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace corvane {
namespace {

using test::waitForBackgroundWork;
using test::waitUntil;

constexpr int rowHeight = TaskRowView::rowHeight;

// Remembers whether its manager still listed it when it was cancelled.
class RecordingTask : public Task {
public:
    explicit RecordingTask(std::shared_ptr<TaskManager> manager) : m_manager(std::move(manager)) {}
    void cancel() override
    {
        const auto tasks = m_manager->tasks();
        listedAtCancel = std::find(tasks.begin(), tasks.end(), sharedAs<Task>()) != tasks.end();
        Task::cancel();
    }
    std::optional<bool> listedAtCancel;

private:
    std::shared_ptr<TaskManager> m_manager;
};

TaskPtr describedTask(const QString &description, std::int64_t total = 0)
{
    auto task = std::make_shared<Task>();
    task->setLocalizedDescription(description);
    task->setTotalCount(total);
    return task;
}

class TaskWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        m_view.reset();
        if (TaskWindowController::hasCurrent())
            TaskWindowController::shared()->contentViewController()->close();
        for (const auto &task : TaskManager::shared()->tasks()) {
            task->cancel();
            TaskManager::shared()->remove(task);
        }
        EXPECT_TRUE(waitForBackgroundWork());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    TaskViewController &view()
    {
        if (!m_view)
            m_view = std::make_unique<TaskViewController>(m_manager);
        return *m_view;
    }

    std::shared_ptr<TaskManager> m_manager = TaskManager::make();
    std::unique_ptr<TaskViewController> m_view;
};

TEST_F(TaskWindowTest, TheWindowGrowsToFiveRowsThenScrollsAndOnlyItsWidthResizes)
{
    const int oneRow = rowHeight - 1 + 10;
    EXPECT_EQ(TaskWindowFit::forRows(0, rowHeight).height, oneRow);
    EXPECT_FALSE(TaskWindowFit::forRows(0, rowHeight).showsScrollBar);
    EXPECT_EQ(TaskWindowFit::forRows(5, rowHeight).visibleRows, 5);
    EXPECT_FALSE(TaskWindowFit::forRows(5, rowHeight).showsScrollBar);
    EXPECT_EQ(TaskWindowFit::forRows(7, rowHeight).visibleRows, 5);
    EXPECT_TRUE(TaskWindowFit::forRows(7, rowHeight).showsScrollBar);
    EXPECT_EQ(TaskWindowFit::forRows(2, 40, 28).height, 80 + 28 - 1 + 10);

    auto &window = view();
    EXPECT_FALSE(window.emptyLabel()->isHidden());
    EXPECT_EQ(window.minimumHeight(), oneRow);
    EXPECT_EQ(window.maximumHeight(), oneRow);
    EXPECT_GT(window.maximumWidth(), window.minimumWidth());

    for (int i = 0; i < 5; ++i)
        m_manager->add(describedTask(QString("Task %1").arg(i)));
    ASSERT_TRUE(waitUntil([&] { return window.rows().size() == 5; }));
    EXPECT_TRUE(window.emptyLabel()->isHidden());
    EXPECT_EQ(window.maximumHeight(), 5 * rowHeight + 9);
    EXPECT_EQ(window.scrollView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    for (int i = 5; i < 7; ++i)
        m_manager->add(describedTask(QString("Task %1").arg(i)));
    ASSERT_TRUE(waitUntil([&] { return window.rows().size() == 7; }));
    EXPECT_EQ(window.minimumHeight(), 5 * rowHeight + 9);
    EXPECT_EQ(window.maximumHeight(), 5 * rowHeight + 9);
    EXPECT_EQ(window.scrollView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(TaskWindowTest, NewestFirstAndRemovingCancelsBeforeTheRowGoes)
{
    auto older = std::make_shared<RecordingTask>(m_manager);
    auto newer = describedTask("Newer");
    m_manager->add(older);
    m_manager->add(newer);
    auto &window = view();
    ASSERT_EQ(window.rows().size(), 2u);
    EXPECT_EQ(window.rows()[0]->task(), newer);
    EXPECT_EQ(window.rows()[0]->textLabel()->text(), "Newer");

    // Rows of tasks still listed stay as they are.
    TaskRowView *const newerRow = window.rows()[0];
    window.rowFor(older)->removeButton()->click();
    EXPECT_EQ(older->listedAtCancel, true);
    EXPECT_TRUE(older->isCancelled());
    EXPECT_EQ(m_manager->tasks(), TaskManager::TaskList{newer});
    // The list follows on the main queue.
    EXPECT_EQ(window.rows().size(), 2u);
    ASSERT_TRUE(waitUntil([&] { return window.rows().size() == 1; }));
    EXPECT_EQ(window.rows()[0], newerRow);
}

TEST_F(TaskWindowTest, ClosingTheWindowLeavesTasksRunningAndANewTaskOpensAFreshOne)
{
    auto manager = TaskManager::shared();
    auto first = TaskWindowController::shared();
    EXPECT_EQ(TaskWindowController::shared(), first);
    first->showWindow();

    auto finish = std::make_shared<std::atomic<bool>>(false);
    auto running = describedTask("Running", 10);
    manager->start(running, [finish, task = running.get()] {
        while (!*finish && !task->isCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    ASSERT_TRUE(waitUntil([&] { return first->contentViewController()->rows().size() == 1; }));

    first->contentViewController()->close();
    EXPECT_FALSE(TaskWindowController::hasCurrent());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(running->isCancelled());
    EXPECT_EQ(manager->tasks(), TaskManager::TaskList{running});

    auto second = TaskWindowController::shared();
    EXPECT_NE(second, first);
    ASSERT_EQ(second->contentViewController()->rows().size(), 1u);
    EXPECT_EQ(second->contentViewController()->rows()[0]->task(), running);
    *finish = true;
}

TEST_F(TaskWindowTest, RowsShowTheirOwnTaskAndFollowItsUpdatesFromAnyThread)
{
    auto busy = describedTask("Busy");
    auto huge = describedTask("Huge", std::int64_t(1) << 40);
    huge->setCompletedCount(std::int64_t(1) << 39);
    huge->setLocalisedDetailDescription("Half way");
    m_manager->add(huge);
    m_manager->add(busy);
    auto &window = view();
    TaskRowView *busyRow = window.rowFor(busy);
    TaskRowView *hugeRow = window.rowFor(huge);

    EXPECT_EQ(busyRow->progressIndicator()->maximum(), 0);
    EXPECT_EQ(busyRow->progressIndicator()->minimum(), 0);
    EXPECT_NEAR(double(hugeRow->progressIndicator()->value()) /
                    hugeRow->progressIndicator()->maximum(),
                0.5, 1e-6);
    // No detail yet: nothing of another task's.
    EXPECT_EQ(busyRow->detailTextLabel()->text(), "");
    EXPECT_TRUE(busyRow->revealButton()->isHidden());

    std::thread([&] {
        busy->setLocalisedDetailDescription("Step 1");
        busy->setCanInspect(true);
        busy->postDidUpdate();
    }).join();
    ASSERT_TRUE(waitUntil([&] { return busyRow->detailTextLabel()->text() == "Step 1"; }));
    // Also where a narrow window cuts it.
    EXPECT_EQ(busyRow->detailTextLabel()->toolTip(), "Step 1");
    EXPECT_FALSE(busyRow->revealButton()->isHidden());

    // A burst queues one refresh, not one per update.
    DispatchQueue::drainMain();
    const int before = busyRow->refreshCount();
    std::thread([&] {
        for (int i = 0; i < 10000; ++i) {
            busy->setCompletedCount(i);
            busy->postDidUpdate();
        }
    }).join();
    EXPECT_TRUE(busyRow->hasPendingRefresh());
    DispatchQueue::drainMain();
    EXPECT_EQ(busyRow->refreshCount(), before + 1);
    EXPECT_FALSE(busyRow->hasPendingRefresh());

    // Updates after the window went (one queued before, others after) harm nothing.
    busy->postDidUpdate();
    m_view.reset();
    std::thread([&] {
        for (int i = 0; i < 100; ++i)
            busy->postDidUpdate();
    }).join();
    DispatchQueue::drainMain();
}

} // namespace
} // namespace corvane

namespace corvane {
namespace {

// How a task stands shows in its row at a glance: running in the usual
// colour, its bar moving while the amount of work is unknown, and still
// running with every unit counted while it finishes its last step; finished
// in green and full; failed in red, with its text; cancelled in grey. A bar
// that stopped stays where the work stopped.
TEST_F(TaskWindowTest, ARowShowsHowItsTaskStandsAtAGlance)
{
    const QColor usual = QProgressBar().palette().color(QPalette::Highlight);
    const QColor usualTrack = QProgressBar().palette().color(QPalette::Base);
    const QColor green(0x2e, 0x9d, 0x4f), red(0xc0, 0x1c, 0x28), grey(0x9a, 0x9a, 0x9a);
    const struct {
        const char *name;
        std::int64_t total, completed;
        bool failed, cancelled, finished;
        int maximum, value;
        QColor colour;
    } cases[] = {
        {"waiting for an answer", 0, 0, false, false, false, 0, -1, usual},
        {"half way", 20, 10, false, false, false, 20, 10, usual},
        {"at its last step", 20, 20, false, false, false, 20, 20, usual},
        {"finished", 20, 20, false, false, true, 20, 20, green},
        {"finished though cancelled too late", 20, 20, false, true, true, 20, 20, green},
        {"failed half way", 20, 10, true, true, false, 20, 10, red},
        {"cancelled before any work", 0, 0, false, true, false, 1, 0, grey},
    };
    auto &window = view();
    window.show();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto task = describedTask("Unsplash", c.total);
        task->setCompletedCount(c.completed);
        task->setFailed(c.failed);
        task->setCancelled(c.cancelled);
        task->setFinished(c.finished);
        task->setLocalisedDetailDescription(c.name);
        m_manager->add(task);
        TaskRowView *row = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (row = window.rowFor(task)) != nullptr; }));
        EXPECT_EQ(row->progressIndicator()->maximum(), c.maximum);
        EXPECT_EQ(row->progressIndicator()->value(), c.value);
        EXPECT_EQ(row->progressIndicator()->palette().color(QPalette::Highlight), c.colour);
        // A stopped bar is tinted where no work was done.
        EXPECT_EQ(row->progressIndicator()->palette().color(QPalette::Base) != usualTrack,
                  c.colour == red || c.colour == grey);
        EXPECT_EQ(row->detailTextLabel()->palette().color(
                      row->detailTextLabel()->foregroundRole()) == red,
                  c.failed);

        // Only a bar whose amount of work is unknown moves.
        const QImage before = row->progressIndicator()->grab().toImage();
        test::pumpFor(std::chrono::milliseconds(200));
        EXPECT_EQ(row->progressIndicator()->grab().toImage() != before, c.maximum == 0);
    }
}

// Quitting's window names each task it still waits for with the step it
// finishes, follows them as they go on and end, and cannot be closed.
TEST_F(TaskWindowTest, TheFinishingWindowSaysWhatEachRunningTaskFinishes)
{
    auto done = std::make_shared<std::atomic<int>>(0);
    const auto startHeld = [&](const QString &description, std::optional<QString> step, int until) {
        auto task = describedTask(description);
        task->setLocalisedDetailDescription(step);
        m_manager->start(task, [done, until] {
            while (*done < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
        return task;
    };
    const auto import = startHeld("Tidepool", "Putting back the replaced data…", 1);
    startHeld("Unsplash", std::nullopt, 2);
    FinishingWindow window(m_manager);
    const auto shown = [&] { return window.tasksLabel()->text(); };
    EXPECT_EQ(shown(), "Tidepool\n    Putting back the replaced data…\nUnsplash");
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    import->setLocalisedDetailDescription("Finishing the import…");
    EXPECT_TRUE(
        waitUntil([&] { return shown() == "Tidepool\n    Finishing the import…\nUnsplash"; }));
    *done = 1;
    EXPECT_TRUE(waitUntil([&] { return shown() == "Unsplash"; }));
    *done = 2;
    EXPECT_TRUE(waitUntil([&] { return shown().isEmpty(); }));
}

} // namespace
} // namespace corvane
