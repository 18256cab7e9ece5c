#pragma once

#include <QStringList>

namespace corvane {

// The desktop's view of running programs and files.
class Workspace {
public:
    // Executable paths of the running processes in pid order: each one's
    // /proc/<pid>/exe, and its argv[0] too when that is an absolute path.
    static QStringList runningExecutablePaths();
};

} // namespace corvane
