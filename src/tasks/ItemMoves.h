#pragma once

#include "core/File.h"

#include <filesystem>
#include <functional>
#include <system_error>

namespace corvane {

// Whether there is an item at the path (a link counts, wherever it leads).
bool itemExists(const std::filesystem::path &path);
// Whether there is a folder at the path itself, not a link to one.
bool isRealDirectory(const std::filesystem::path &path);
// Whether the path lies in the folder without passing through a link: what
// is changed there is what lies there, never something a link leads to.
// Links at or above the folder itself are followed.
bool liesPlainlyIn(const std::filesystem::path &path, const std::filesystem::path &folder);
// Whether a container may be emptied or filled: a real folder (or nothing
// yet) reached from the devices folder through real folders only.
bool isPlainContainerFolder(const std::filesystem::path &folder,
                            const std::filesystem::path &devicesRoot);

// Moves the item (a link as a link, a folder with its contents) to `to`,
// where nothing may be. Across file systems it is copied and then removed.
// A folder without write permission for its owner is moved too. Throws
// std::filesystem::filesystem_error; the item is then where it was.
void moveItem(const std::filesystem::path &from, const std::filesystem::path &to);

// Removes the item and everything in it, also from folders without write
// permission for their owner (they are ours to remove). Nothing there is
// fine. Throws std::filesystem::filesystem_error.
void removeTree(const std::filesystem::path &path);

// Puts `replacement` at `target` in one step, so that the target never lacks
// an item nor holds a mix of both: whatever was there is removed afterwards,
// once the new item is in its place on disk.
// Without an atomic exchange the old item waits at `asidePath(replacement)`
// while the new one is moved in. Throws std::filesystem::filesystem_error,
// leaving both as they were. The result is the error of removing the
// replaced item, if any.
std::error_code replaceItem(const std::filesystem::path &replacement,
                            const std::filesystem::path &target);
std::filesystem::path asidePath(const std::filesystem::path &replacement);

// Removes the folder if it is empty; true when nothing is left at the path.
bool removeEmptyFolder(const std::filesystem::path &folder);

// Writes out everything pending on the file system that holds the folder,
// so that a record written afterwards never describes what a power loss
// could undo. Throws std::filesystem::filesystem_error.
void syncFileSystemOf(const std::filesystem::path &folder);

// For tests: asked before each call here that changes the file system or
// writes it out (a rename, an unlink, a removal of a folder, a sync); an
// error number it answers makes that call fail with it, as a failing disk
// would. None: no call fails but by itself.
using FileCallFault = std::function<int()>;
void setFileCallFaultForTesting(FileCallFault fault);

} // namespace corvane
