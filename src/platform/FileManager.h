#pragma once

#include <QUrl>

#include <memory>

namespace corvane {

// Removes files for the operations that empty folders; tests hand in a
// subclass that fails, since a test run as root cannot provoke a refusal.
class FileManager {
public:
    virtual ~FileManager() = default;

    // Removes the file, or the folder with its contents; a link is removed, not
    // followed. Throws std::filesystem::filesystem_error, with
    // no_such_file_or_directory when nothing is there.
    virtual void removeItem(const QUrl &url);

    static FileManager &defaultManager();
};

} // namespace corvane
