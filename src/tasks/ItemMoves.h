#pragma once

#include <QString>

#include <filesystem>
#include <system_error>

namespace corvane {

// The path as the file system spells it.
std::filesystem::path nativePath(const QString &path);
// Whether there is an item at the path (a link counts, wherever it leads).
bool itemExists(const QString &path);

// Moves the item (a link as a link, a folder with its contents) to `to`,
// where nothing may be. Across file systems it is copied and then removed.
// Throws std::filesystem::filesystem_error; the item is then where it was.
void moveItem(const QString &from, const QString &to);

// Puts `replacement` at `target` in one step, so that the target never lacks
// an item nor holds a mix of both: whatever was there is removed afterwards.
// Throws std::filesystem::filesystem_error, leaving both as they were. The
// result is the error of removing the replaced item, if any.
std::error_code replaceItem(const QString &replacement, const QString &target);

} // namespace corvane
