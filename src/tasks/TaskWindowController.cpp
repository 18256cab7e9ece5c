#include "tasks/TaskWindowController.h"

#include "tasks/TaskManager.h"
#include "tasks/TaskViewController.h"

#include <QCoreApplication>

namespace corvane {

namespace {

// Never destroyed with the statics: the window goes with the application
// (on quit, or when closed), not after it.
std::shared_ptr<TaskWindowController> &currentSlot()
{
    static auto *slot = new std::shared_ptr<TaskWindowController>;
    return *slot;
}

} // namespace

TaskWindowController::TaskWindowController(std::shared_ptr<TaskManager> manager)
    : TaskWindowController(new TaskViewController(std::move(manager)))
{
}

TaskWindowController::TaskWindowController(TaskViewController *content)
    : ClosableWindowController(content), m_content(content)
{
}

std::shared_ptr<TaskWindowController> TaskWindowController::shared()
{
    auto &slot = currentSlot();
    if (slot)
        return slot;
    static const bool quitHooked = [] {
        if (auto *application = QCoreApplication::instance())
            QObject::connect(application, &QCoreApplication::aboutToQuit, application,
                             [] { currentSlot().reset(); });
        return true;
    }();
    Q_UNUSED(quitHooked);
    slot = std::make_shared<TaskWindowController>(TaskManager::shared());
    slot->m_content->setCloseHandler([weak = std::weak_ptr(slot)] {
        auto &current = currentSlot();
        if (current && current == weak.lock())
            current.reset();
    });
    return slot;
}

bool TaskWindowController::hasCurrent()
{
    return currentSlot() != nullptr;
}

} // namespace corvane
