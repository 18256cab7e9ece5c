#pragma once

#include "tasks/ClosableWindow.h"

#include <memory>

namespace corvane {

class TaskManager;
class TaskViewController;

// The window that lists the tasks. One is current at a time; closing it
// empties the slot (its tasks go on), and the next shared() builds a fresh
// window. Main thread only.
class TaskWindowController : public ClosableWindowController {
public:
    explicit TaskWindowController(std::shared_ptr<TaskManager> manager);

    // The current controller, built on the shared manager when there is none.
    static std::shared_ptr<TaskWindowController> shared();
    // Whether a controller is current, without building one.
    static bool hasCurrent();

    TaskViewController *contentViewController() const { return m_content; }

private:
    explicit TaskWindowController(TaskViewController *content);

    TaskViewController *m_content;
};

} // namespace corvane
