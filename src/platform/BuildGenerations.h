#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace corvane {

// Orders the builds of what one menu shows (or any results read from a
// changing source), wherever they run. A build takes its number right before
// it reads the model (the menu already observes the model's changes), and its
// result is applied only when no build that read later has been applied: the
// newest reading wins, whatever order the builds finish in, so a change that
// lands while the menu is being made is never undone by the older
// construction.
class BuildGenerations {
public:
    using Number = std::uint64_t;

    // Before reading the model.
    Number begin();
    // Runs `apply` unless a build begun later has been applied already;
    // returns whether it ran.
    bool applyIfNewest(Number build, const std::function<void()> &apply);

private:
    std::mutex m_mutex;
    Number m_begun = 0;
    Number m_applied = 0;
};

} // namespace corvane
