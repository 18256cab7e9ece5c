#pragma once

#include <filesystem>
#include <memory>
#include <vector>

namespace corvane {

// Lists and removes files for the operations that walk and empty folders;
// tests hand in a subclass that fails, since a test run as root cannot
// provoke a refusal.
class FileManager {
public:
    virtual ~FileManager() = default;

    // Removes the file, or the folder with its contents; a link is removed, not
    // followed. The path is the native one (names need not be UTF-8). Throws
    // std::filesystem::filesystem_error, with no_such_file_or_directory when
    // nothing is there.
    virtual void removeItem(const std::filesystem::path &path);

    // The entries directly inside a directory, in the order the file system
    // gives them. Throws std::filesystem::filesystem_error when it cannot be
    // listed.
    virtual std::vector<std::filesystem::path>
    contentsOfDirectory(const std::filesystem::path &directory);

    static FileManager &defaultManager();
};

} // namespace corvane
