#include "tasks/ItemMoves.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace corvane {

namespace fs = std::filesystem;

std::filesystem::path nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

bool itemExists(const QString &path)
{
    struct stat info {};
    return ::lstat(nativePath(path).c_str(), &info) == 0;
}

namespace {

[[noreturn]] void fail(const char *what, const QString &from, const QString &to, int error)
{
    throw fs::filesystem_error(what, nativePath(from), nativePath(to),
                               std::error_code(error, std::generic_category()));
}

bool isPresent(const fs::path &path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// 0 or the error number. File systems that lack the flag are asked after a
// look at the destination.
int renameWithoutReplacing(const fs::path &from, const fs::path &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (isPresent(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

void moveItem(const QString &from, const QString &to)
{
    const fs::path source = nativePath(from);
    const fs::path destination = nativePath(to);
    const int error = renameWithoutReplacing(source, destination);
    if (error == 0)
        return;
    if (error != EXDEV)
        fail("cannot move item", from, to, error);
    if (isPresent(destination))
        fail("cannot move item", from, to, EEXIST);
    std::error_code copied;
    fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             copied);
    if (copied) {
        std::error_code ignored;
        fs::remove_all(destination, ignored);
        throw fs::filesystem_error("cannot copy item", source, destination, copied);
    }
    fs::remove_all(source);
}

std::error_code replaceItem(const QString &replacement, const QString &target)
{
    const fs::path source = nativePath(replacement);
    const fs::path destination = nativePath(target);
    const int error = renameWithoutReplacing(source, destination);
    if (error == 0)
        return {};
    if (error != EEXIST)
        fail("cannot move item into place", replacement, target, error);

    std::error_code removed;
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_EXCHANGE) ==
        0) {
        // The replaced item now lies where the replacement was.
        fs::remove_all(source, removed);
        return removed;
    }
    if (errno != EINVAL && errno != ENOSYS)
        fail("cannot move item into place", replacement, target, errno);

    // Without an exchange the old item steps aside, and comes back when the
    // new one cannot take its place.
    const fs::path aside = nativePath(replacement + ".replaced");
    if (::rename(destination.c_str(), aside.c_str()) != 0)
        fail("cannot move item aside", target, replacement + ".replaced", errno);
    if (::rename(source.c_str(), destination.c_str()) != 0) {
        const int moveError = errno;
        ::rename(aside.c_str(), destination.c_str());
        fail("cannot move item into place", replacement, target, moveError);
    }
    fs::remove_all(aside, removed);
    return removed;
}

} // namespace corvane
