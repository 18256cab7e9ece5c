#include "tasks/ItemMoves.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

namespace corvane {

namespace fs = std::filesystem;

bool itemExists(const fs::path &path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isRealDirectory(const fs::path &path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool liesPlainlyIn(const fs::path &path, const fs::path &folder)
{
    if (!isWithin(path, folder))
        return false;
    fs::path walked = folder;
    for (const fs::path &component :
         path.lexically_normal().lexically_relative(folder.lexically_normal()).parent_path()) {
        walked /= component;
        if (!isRealDirectory(walked))
            return false;
    }
    return true;
}

bool isPlainContainerFolder(const fs::path &folder, const fs::path &devicesRoot)
{
    return liesPlainlyIn(folder, devicesRoot) && (!itemExists(folder) || isRealDirectory(folder));
}

namespace {

std::mutex faultMutex;
FileCallFault fileCallFault;

// Whether a test makes the call about to be made fail; errno then says how.
bool injectedFailure()
{
    std::lock_guard lock(faultMutex);
    const int error = fileCallFault ? fileCallFault() : 0;
    if (error != 0)
        errno = error;
    return error != 0;
}

[[noreturn]] void fail(const char *what, const fs::path &from, const fs::path &to, int error)
{
    throw fs::filesystem_error(what, from, to, std::error_code(error, std::generic_category()));
}

[[noreturn]] void fail(const char *what, const fs::path &path, int error)
{
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// 0 or the error number. File systems that lack the flag are asked after a
// look at the destination.
int renameWithoutReplacing(const fs::path &from, const fs::path &to)
{
    if (injectedFailure())
        return errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (itemExists(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Moving a folder to another parent rewrites its "..", which needs write
// permission on the folder itself: a read-only folder of ours is opened up
// for the move and closed again in its new place.
int renameReadOnlyFolder(const fs::path &from, const fs::path &to)
{
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || (info.st_mode & S_IWUSR))
        return EACCES;
    const mode_t mode = info.st_mode & 07777;
    if (::chmod(from.c_str(), mode | S_IWUSR) != 0)
        return EACCES;
    const int error = renameWithoutReplacing(from, to);
    ::chmod((error == 0 ? to : from).c_str(), mode);
    return error;
}

} // namespace

void moveItem(const fs::path &from, const fs::path &to)
{
    int error = renameWithoutReplacing(from, to);
    if (error == EACCES)
        error = renameReadOnlyFolder(from, to);
    if (error == 0)
        return;
    if (error != EXDEV)
        fail("cannot move item", from, to, error);
    if (itemExists(to))
        fail("cannot move item", from, to, EEXIST);
    std::error_code copied;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, copied);
    if (copied) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
        throw fs::filesystem_error("cannot copy item", from, to, copied);
    }
    removeTree(from);
}

void removeTree(const fs::path &path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return;
        fail("cannot remove", path, errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        if ((injectedFailure() || ::unlink(path.c_str()) != 0) && errno != ENOENT)
            fail("cannot remove", path, errno);
        return;
    }
    // A failure here shows as the failure to remove what is inside.
    if ((info.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU);
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        removeTree(it->path());
    if (error && error != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("cannot list", path, error);
    if ((injectedFailure() || ::rmdir(path.c_str()) != 0) && errno != ENOENT)
        fail("cannot remove", path, errno);
}

bool removeEmptyFolder(const fs::path &folder)
{
    if (injectedFailure() || ::rmdir(folder.c_str()) != 0)
        return errno == ENOENT;
    return true;
}

void syncFileSystemOf(const fs::path &folder)
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        fail("cannot open folder", folder, errno);
    const int result = injectedFailure() ? -1 : ::syncfs(descriptor);
    const int error = errno;
    ::close(descriptor);
    if (result != 0)
        fail("cannot write out the file system of", folder, error);
}

void setFileCallFaultForTesting(FileCallFault fault)
{
    std::lock_guard lock(faultMutex);
    fileCallFault = std::move(fault);
}

fs::path asidePath(const fs::path &replacement)
{
    return fs::path(replacement.native() + ".replaced");
}

std::error_code replaceItem(const fs::path &replacement, const fs::path &target)
{
    const int error = renameWithoutReplacing(replacement, target);
    if (error == 0)
        return {};
    if (error != EEXIST)
        fail("cannot move item into place", replacement, target, error);

    // The replaced item goes only once the exchange is on disk.
    const auto removed = [&target](const fs::path &path) {
        try {
            syncFileSystemOf(target.parent_path());
            removeTree(path);
            return std::error_code();
        } catch (const fs::filesystem_error &failure) {
            return failure.code();
        }
    };
    if (::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) ==
        0) {
        // The replaced item now lies where the replacement was.
        return removed(replacement);
    }
    if (errno != EINVAL && errno != ENOSYS)
        fail("cannot move item into place", replacement, target, errno);

    // Without an exchange the old item steps aside, and comes back when the
    // new one cannot take its place.
    const fs::path aside = asidePath(replacement);
    if (::rename(target.c_str(), aside.c_str()) != 0)
        fail("cannot move item aside", target, aside, errno);
    if (::rename(replacement.c_str(), target.c_str()) != 0) {
        const int moveError = errno;
        ::rename(aside.c_str(), target.c_str());
        fail("cannot move item into place", replacement, target, moveError);
    }
    return removed(aside);
}

} // namespace corvane
