#pragma once

#include "tasks/Task.h"
#include "tasks/TaskProgressBar.h"

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QToolButton;

namespace corvane {

class TaskManager;

// One row of the task window: the texts, the progress and the buttons of one
// task, refreshed on the main thread whenever the task posts an update. How
// the task stands shows at a glance in the bar's colour: running in the
// usual highlight, moving while the amount of work is unknown; finished in
// green; failed in red, with its text; cancelled in grey.
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
    // Moving while the amount of work is unknown.
    TaskProgressBar *progressIndicator() const { return m_progress; }
    QToolButton *revealButton() const { return m_revealButton; }
    QToolButton *removeButton() const { return m_removeButton; }

private:
    struct Link;
    enum class State { running, finished, failed, cancelled };

    void reveal();
    void remove();
    // The colours and the bar's tooltip of the state.
    void showState(State state);

    const TaskPtr m_task;
    const std::weak_ptr<TaskManager> m_manager;
    std::shared_ptr<Link> m_link;
    std::shared_ptr<NotificationObserver> m_observation;
    QLabel *m_textLabel;
    QLabel *m_detailTextLabel;
    TaskProgressBar *m_progress;
    QToolButton *m_revealButton;
    QToolButton *m_removeButton;

    int m_refreshCount = 0;
    // None until the first refresh shows one.
    std::optional<State> m_state;
};

} // namespace corvane
