#include "tasks/TaskViewController.h"

#include "tasks/TaskManager.h"
#include "tasks/TaskRowView.h"

#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_map>

namespace corvane {

TaskWindowFit TaskWindowFit::forRows(qsizetype rows, int rowHeight, int top)
{
    TaskWindowFit fit;
    fit.visibleRows = int(std::clamp<qsizetype>(rows, 1, maximumVisibleRows));
    fit.height = rowHeight * fit.visibleRows + top - 1 + 10;
    fit.showsScrollBar = std::max<qsizetype>(rows, 1) != fit.visibleRows;
    return fit;
}

TaskViewController::TaskViewController(std::shared_ptr<TaskManager> manager)
    : m_manager(std::move(manager)), m_scrollView(new QScrollArea(this)), m_list(new QWidget),
      m_listLayout(new QVBoxLayout(m_list)), m_emptyLabel(new QLabel(tr("No Tasks"), this))
{
    setWindowTitle(tr("Tasks"));
    setMinimumWidth(360);
    resize(420, height());

    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(0);
    m_listLayout->addStretch(1);
    m_scrollView->setWidget(m_list);
    m_scrollView->setWidgetResizable(true);
    m_scrollView->setFrameShape(QFrame::NoFrame);
    m_scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setForegroundRole(QPalette::PlaceholderText);

    // The label lies over the (then empty) list.
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollView, 0, 0);
    layout->addWidget(m_emptyLabel, 0, 0);

    // Registered before the first read, so no change falls in between.
    m_observers.append(observeNotification<TaskManager>(
        TaskManager::tasksDidChange, m_manager, DispatchQueue::main(),
        [self = QPointer(this)](const Notification &, const std::shared_ptr<TaskManager> &) {
            if (self)
                self->reload();
        }));
    reload();
}

TaskViewController::~TaskViewController() = default;

std::vector<TaskRowView *> TaskViewController::rows() const
{
    std::vector<TaskRowView *> rows;
    for (int i = 0; i < m_listLayout->count(); ++i)
        if (auto *row = dynamic_cast<TaskRowView *>(m_listLayout->itemAt(i)->widget()))
            rows.push_back(row);
    return rows;
}

TaskRowView *TaskViewController::rowFor(const TaskPtr &task) const
{
    for (TaskRowView *row : rows())
        if (row->task() == task)
            return row;
    return nullptr;
}

void TaskViewController::reload()
{
    const auto tasks = m_manager->tasks();
    // Rows of tasks still listed stay (with their registrations); the others go.
    std::unordered_map<Task *, TaskRowView *> existing;
    for (TaskRowView *row : rows()) {
        m_listLayout->removeWidget(row);
        existing.emplace(row->task().get(), row);
    }
    int index = 0;
    for (auto it = tasks.rbegin(); it != tasks.rend(); ++it, ++index) {
        TaskRowView *row = nullptr;
        if (auto found = existing.find(it->get()); found != existing.end()) {
            row = found->second;
            existing.erase(found);
            row->refresh();
        } else {
            row = new TaskRowView(*it, m_manager, m_list);
        }
        m_listLayout->insertWidget(index, row);
    }
    for (auto &[task, row] : existing)
        delete row;

    m_emptyLabel->setVisible(tasks.empty());
    fitWindow(qsizetype(tasks.size()));
}

void TaskViewController::fitWindow(qsizetype rows)
{
    // Qt's frame and title bar lie outside the client area: no top inset.
    const auto fit = TaskWindowFit::forRows(rows, TaskRowView::rowHeight);
    setMinimumHeight(fit.height);
    setMaximumHeight(fit.height);
    resize(width(), fit.height);
    m_scrollView->setVerticalScrollBarPolicy(fit.showsScrollBar ? Qt::ScrollBarAlwaysOn
                                                                : Qt::ScrollBarAlwaysOff);
}

} // namespace corvane
