#include "platform/files/FileManager.h"

#include <filesystem>
#include <system_error>

namespace corvane {

namespace fs = std::filesystem;

void FileManager::removeItem(const fs::path &path)
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error)))
        throw fs::filesystem_error("Cannot remove", path,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    fs::remove_all(path);
}

std::vector<fs::path> FileManager::contentsOfDirectory(const fs::path &directory)
{
    std::vector<fs::path> entries;
    for (const auto &entry : fs::directory_iterator(directory))
        entries.push_back(entry.path());
    return entries;
}

FileManager &FileManager::defaultManager()
{
    static FileManager manager;
    return manager;
}

} // namespace corvane
