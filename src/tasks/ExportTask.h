#pragma once

#include "tasks/ArchiveTask.h"

#include <memory>
#include <vector>

namespace corvane {

class Container;

// Copies an application's data container and group containers into a new
// archive folder. The archive is written in a hidden folder beside the
// target and put in place only when it is complete, so that the target holds
// the old archive (or nothing) until then, and again after a failure or a
// cancel. The journal names the hidden folder while it exists.
class ExportTask : public ArchiveTask {
public:
    explicit ExportTask(std::shared_ptr<Application> application);

    // The task's body, on the task queue.
    void run(const std::vector<std::shared_ptr<Container>> &containers, const QUrl &url);

private:
    std::vector<File> gather(const std::vector<std::shared_ptr<Container>> &containers);
    void write(const std::vector<File> &files, const std::filesystem::path &staging);
};

} // namespace corvane
