#pragma once

#include "tasks/ClosableWindow.h"

#include <QStringList>

#include <memory>

class QLabel;

namespace corvane {

class TaskManager;

// While quitting waits for cancelled tasks, a small window that says what it
// waits for: each task still running, with the step it is finishing, under
// a busy bar. It follows the tasks until it is disposed of. Main thread only.
class FinishingWindow : public ClosableWindow {
public:
    explicit FinishingWindow(std::shared_ptr<TaskManager> manager);
    ~FinishingWindow() override;

    // Reads the running tasks again; a timer does so while the window lives.
    void refresh();
    QLabel *tasksLabel() const { return m_tasks; }

    // Each task the manager runs, followed by `between` and the step it is
    // finishing when it names one: what the window lists, and what quitting
    // logs.
    static QStringList tasksAndSteps(const TaskManager &manager, const QString &between);

private:
    const std::shared_ptr<TaskManager> m_manager;
    QLabel *m_tasks;
};

// Presents a FinishingWindow it owns.
class FinishingWindowController : public ClosableWindowController {
public:
    explicit FinishingWindowController(std::shared_ptr<TaskManager> manager);
};

} // namespace corvane
