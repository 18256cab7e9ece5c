#pragma once

#include <QString>

namespace corvane {

struct SetAsideResult {
    enum class Outcome { nothingThere, setAside, failed };
    Outcome outcome = Outcome::nothingThere;
    // Where it went, for Outcome::setAside.
    QString asidePath;

    // Nothing is left in the way of a new file.
    bool cleared() const { return outcome != Outcome::failed; }
};

// Renames whatever stands at `path` (a file, a folder, a pipe; a link
// itself, never followed) to "<path>.unreadable-<yyyyMMdd-HHmmss>" beside
// it, so that a file the program could not read is kept for the user, never
// written over. Nothing is copied, and an earlier one set aside in the same
// second is never replaced.
SetAsideResult setAside(const QString &path);

} // namespace corvane
