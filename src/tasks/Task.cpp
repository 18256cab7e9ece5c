#include "tasks/Task.h"

#include "core/Uuid.h"

namespace corvane {

namespace {

bool ratioIsOne(std::int64_t completed, std::int64_t total)
{
    return double(completed) / double(total) == 1.0;
}

} // namespace

Task::Task() : m_taskID(QUuid::createUuid())
{
}

Task::~Task() = default;

QString Task::taskIDString() const
{
    return uuidString(m_taskID);
}

std::optional<QString> Task::localizedDescription() const
{
    std::lock_guard lock(m_mutex);
    return m_localizedDescription;
}

void Task::setLocalizedDescription(std::optional<QString> text)
{
    std::lock_guard lock(m_mutex);
    m_localizedDescription = std::move(text);
}

std::optional<QString> Task::localisedDetailDescription() const
{
    std::lock_guard lock(m_mutex);
    return m_localisedDetailDescription;
}

void Task::setLocalisedDetailDescription(std::optional<QString> text)
{
    std::lock_guard lock(m_mutex);
    m_localisedDetailDescription = std::move(text);
}

bool Task::canInspect() const
{
    std::lock_guard lock(m_mutex);
    return m_canInspect;
}

void Task::setCanInspect(bool canInspect)
{
    std::lock_guard lock(m_mutex);
    m_canInspect = canInspect;
}

bool Task::isActive() const
{
    // A task that stopped before its work was done never gets further.
    if (isCancelled() || hasFailed())
        return false;
    const std::int64_t total = totalCount();
    return total < 1 || double(completedCount()) / double(total) < 1.0;
}

bool Task::isComplete() const
{
    if (isCancelled() || hasFailed())
        return true;
    const std::int64_t total = totalCount();
    return total >= 1 && ratioIsOne(completedCount(), total);
}

void Task::postDidUpdate()
{
    if (auto self = weak_from_this().lock())
        postNotification(didUpdate, self);
}

void Task::cancel()
{
    setCancelled(true);
    postDidUpdate();
}

void Task::reveal()
{
}

std::shared_ptr<NotificationObserver> Task::observeDidUpdate(DispatchQueuePtr queue,
                                                             UpdateHandler handler)
{
    auto token = observeNotification<Task>(
        didUpdate, sharedAs<Task>(), std::move(queue),
        [handler = std::move(handler)](const Notification &, const TaskPtr &task) {
            handler(task);
        });
    std::lock_guard lock(m_mutex);
    m_observers.append(token);
    return token;
}

} // namespace corvane
