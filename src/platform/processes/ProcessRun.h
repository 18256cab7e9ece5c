#pragma once

#include <QtGlobal>

#include <optional>

namespace corvane {

// One run of a program as the process table shows it: with the process ID,
// the start names that run, whatever reuses the ID later.
struct ProcessRun {
    // When the process started, in clock ticks after boot.
    quint64 start = 0;
    // Ended, and only waiting for its parent to reap it.
    bool ended = false;

    // Nothing when the process table has no such process or cannot be read.
    static std::optional<ProcessRun> of(qint64 pid);
};

} // namespace corvane
