#pragma once

#include "tasks/ArchiveTask.h"

#include <memory>
#include <vector>

namespace corvane {

class Container;
class ContainerBackup;

// Replaces an application's container contents with those of an archive.
// What the reset removes is kept aside until the import is done, and what the
// import creates is recorded, so that a failure or a cancel puts the
// containers back as they were.
class ImportTask : public ArchiveTask {
public:
    explicit ImportTask(std::shared_ptr<Application> application);

    // The task's body, on the task queue.
    void run(const QUrl &url);

protected:
    // Where the reset moves what it removes.
    virtual std::unique_ptr<ContainerBackup>
    makeBackup(const std::vector<std::shared_ptr<Container>> &containers) const;

private:
    void copy(const std::vector<File> &files,
              const std::vector<std::shared_ptr<Container>> &containers,
              std::vector<QString> &created);
    void rollBack(ContainerBackup &backup, const std::vector<QString> &created);
};

} // namespace corvane
