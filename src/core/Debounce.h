#pragma once

#include "platform/queues/DispatchQueue.h"
#include "platform/queues/Scheduler.h"

#include <QString>

#include <functional>
#include <optional>

namespace corvane {

// Schedules `work` on `queue` at `deadline` and cancels the work that an
// earlier call with the same key scheduled and that has not started. Calls
// without a key share one process-wide key.
void debounce(const DispatchQueuePtr &queue, Clock::time_point deadline,
              const std::optional<QString> &key, std::function<void()> work);
void debounce(const DispatchQueuePtr &queue, double seconds, const std::optional<QString> &key,
              std::function<void()> work);
// The same, timed by `scheduler`.
void debounce(Scheduler &scheduler, const DispatchQueuePtr &queue, double seconds,
              const std::optional<QString> &key, std::function<void()> work);

// Runs `work` at once unless the key ran within the last `interval` seconds.
void throttle(const DispatchQueuePtr &queue, double interval, const std::optional<QString> &key,
              std::function<void()> work);

// Whether an item is registered under the key (tests).
bool debounceIsPending(const std::optional<QString> &key);

} // namespace corvane
