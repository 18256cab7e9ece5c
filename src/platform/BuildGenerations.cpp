#include "platform/BuildGenerations.h"

namespace corvane {

BuildGenerations::Number BuildGenerations::begin()
{
    std::lock_guard lock(m_mutex);
    return ++m_begun;
}

bool BuildGenerations::applyIfNewest(Number build, const std::function<void()> &apply)
{
    // Applied under the lock, so that a newer build cannot land in between
    // the check and the change.
    std::lock_guard lock(m_mutex);
    if (build <= m_applied)
        return false;
    m_applied = build;
    apply();
    return true;
}

} // namespace corvane
