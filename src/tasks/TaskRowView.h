#pragma once

#include "tasks/Task.h"

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QToolButton;

namespace corvane {

class TaskManager;

// One row of the task window: the texts, the progress and the buttons of one
// task, refreshed on the main thread whenever the task posts an update.
class TaskRowView : public QWidget {
public:
    static constexpr int rowHeight = 64;

    TaskRowView(TaskPtr task, std::shared_ptr<TaskManager> manager, QWidget *parent = nullptr);
    ~TaskRowView() override;

    const TaskPtr &task() const { return m_task; }
    void refresh();

    // For tests and the benchmark: refreshes run, and whether one waits.
    int refreshCount() const { return m_refreshCount; }
    bool hasPendingRefresh() const;

    QLabel *textLabel() const { return m_textLabel; }
    QLabel *detailTextLabel() const { return m_detailTextLabel; }
    QProgressBar *progressIndicator() const { return m_progress; }
    QToolButton *revealButton() const { return m_revealButton; }
    QToolButton *removeButton() const { return m_removeButton; }

private:
    struct Link;

    void reveal();
    void remove();

    const TaskPtr m_task;
    const std::weak_ptr<TaskManager> m_manager;
    std::shared_ptr<Link> m_link;
    std::shared_ptr<NotificationObserver> m_observation;
    QLabel *m_textLabel;
    QLabel *m_detailTextLabel;
    QProgressBar *m_progress;
    QToolButton *m_revealButton;
    QToolButton *m_removeButton;
    int m_refreshCount = 0;
    bool m_showsFailure = false;
};

} // namespace corvane
