#include "tasks/FinishingWindow.h"

#include "tasks/TaskManager.h"
#include "tasks/TaskProgressBar.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr int refreshInterval = 100;

} // namespace

FinishingWindow::FinishingWindow(std::shared_ptr<TaskManager> manager)
    : m_manager(std::move(manager)), m_tasks(new QLabel(this))
{
    setWindowTitle(tr("Quitting Corvane"));
    // Nothing to answer: it goes by itself once the tasks are done.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    setMinimumWidth(380);

    auto *heading = new QLabel(tr("Finishing before quitting…"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    m_tasks->setTextFormat(Qt::PlainText);
    m_tasks->setWordWrap(true);
    auto *busy = new TaskProgressBar(this);
    busy->setBusy(true);
    busy->setTextVisible(false);
    busy->setMaximumHeight(8);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addWidget(heading);
    layout->addWidget(m_tasks);
    layout->addWidget(busy);

    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { refresh(); });
    timer->start(refreshInterval);
    refresh();
}

FinishingWindow::~FinishingWindow() = default;

void FinishingWindow::refresh()
{
    m_tasks->setText(tasksAndSteps(*m_manager, "\n    ").join('\n'));
}

QStringList FinishingWindow::tasksAndSteps(const TaskManager &manager, const QString &between)
{
    QStringList lines;
    for (const auto &task : manager.runningTasks()) {
        const auto step = task->localisedDetailDescription();
        lines << task->localizedDescription().value_or(QString()) +
                     (step ? between + *step : QString());
    }
    return lines;
}

FinishingWindowController::FinishingWindowController(std::shared_ptr<TaskManager> manager)
    : ClosableWindowController(new FinishingWindow(std::move(manager)))
{
}

} // namespace corvane
