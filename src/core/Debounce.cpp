#include "core/Debounce.h"

#include "core/Mutex.h"

#include <QHash>
#include <QRandomGenerator>

namespace corvane {

namespace {

struct Registry {
    PThreadMutex lock{PThreadMutexType::recursive};
    QHash<QString, WorkItemPtr> items;
    QHash<QString, Clock::time_point> lastRun;
    const QString defaultKey =
        QStringLiteral("debounce.default.%1").arg(QRandomGenerator::global()->generate());
};

Registry &registry()
{
    static auto *r = new Registry;
    return *r;
}

QString resolve(const std::optional<QString> &key)
{
    return key ? *key : registry().defaultKey;
}

Clock::duration seconds(double value)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

// Registers the item under the key, cancelling the one registered before;
// `schedule` hands the item to its queue.
void debounceItem(const std::function<void(WorkItemPtr)> &schedule,
                  const std::optional<QString> &key, std::function<void()> work)
{
    const QString resolved = resolve(key);
    auto self = std::make_shared<std::weak_ptr<WorkItem>>();
    auto item = std::make_shared<WorkItem>([work = std::move(work), resolved, self] {
        work();
        auto &r = registry();
        r.lock.sync([&] {
            // A newer item registered while this one ran keeps its entry, so a
            // later call can still cancel it.
            auto it = r.items.find(resolved);
            if (it != r.items.end() && it.value() == self->lock())
                r.items.erase(it);
        });
    });
    *self = item;
    schedule(item);
    auto &r = registry();
    r.lock.sync([&] {
        auto it = r.items.find(resolved);
        if (it != r.items.end())
            it.value()->cancel();
        r.items.insert(resolved, item);
    });
}

} // namespace

void debounce(const DispatchQueuePtr &queue, Clock::time_point deadline,
              const std::optional<QString> &key, std::function<void()> work)
{
    debounceItem([&](WorkItemPtr item) { queue->asyncAfter(deadline, std::move(item)); }, key,
                 std::move(work));
}

void debounce(const DispatchQueuePtr &queue, double delay, const std::optional<QString> &key,
              std::function<void()> work)
{
    debounce(queue, Clock::now() + seconds(delay), key, std::move(work));
}

void debounce(Scheduler &scheduler, const DispatchQueuePtr &queue, double delay,
              const std::optional<QString> &key, std::function<void()> work)
{
    debounceItem([&](WorkItemPtr item) { scheduler.asyncAfter(queue, delay, std::move(item)); },
                 key, std::move(work));
}

void throttle(const DispatchQueuePtr &queue, double interval, const std::optional<QString> &key,
              std::function<void()> work)
{
    const QString resolved = resolve(key);
    auto &r = registry();
    const auto now = Clock::now();
    const bool dropped = r.lock.sync([&] {
        auto it = r.lastRun.find(resolved);
        if (it != r.lastRun.end() && now < it.value() + seconds(interval))
            return true;
        r.lastRun.insert(resolved, now);
        return false;
    });
    if (dropped)
        return;
    queue->async(std::move(work));
    debounce(queue, now + seconds(interval), std::nullopt, [resolved] {
        auto &reg = registry();
        reg.lock.sync([&] { reg.lastRun.remove(resolved); });
    });
}

bool debounceIsPending(const std::optional<QString> &key)
{
    const QString resolved = resolve(key);
    auto &r = registry();
    return r.lock.sync([&] { return r.items.contains(resolved); });
}

} // namespace corvane
