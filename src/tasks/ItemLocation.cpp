#include "tasks/ItemLocation.h"

#include "core/File.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace corvane {

namespace fs = std::filesystem;

namespace {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    // Closes now, so that a failed close (the last write) is seen.
    int close() { return m_fd < 0 ? 0 : ::close(std::exchange(m_fd, -1)); }

private:
    void reset()
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
    }

    int m_fd = -1;
};

[[noreturn]] void fail(const char *what, const fs::path &path, int error)
{
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// The path is only made for a failure.
[[noreturn]] void fail(const char *what, const ItemLocation &location, int error)
{
    fail(what, location.path(), error);
}

// Gives a directory its attributes through a descriptor of its own. It is
// ours and owner-accessible, so it can be opened to change it.
void setDirectoryAttributes(int parent, const std::string &name,
                            const ItemLocation::Attributes &attributes, const fs::path &path)
{
    Descriptor directory(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directory.get() < 0)
        fail("cannot open directory", path, errno);
    const timespec times[2] = {attributes.accessed, attributes.modified};
    if (::fchmod(directory.get(), attributes.permissions) != 0)
        fail("cannot set permissions", path, errno);
    if (::futimens(directory.get(), times) != 0)
        fail("cannot set times", path, errno);
}

// Opens `name` in `parent` as a directory, first creating it (default mode)
// when it is missing and `create` is given, which then tells whether it was
// made. Only the root's own components are followed when they are links.
Descriptor openDirectory(int parent, const std::string &name, bool follow, bool *create,
                         const fs::path &path)
{
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
    // Mostly the folder is there: it is made only when it cannot be opened.
    int fd = ::openat(parent, name.c_str(), flags);
    if (create) {
        *create = false;
        if (fd < 0 && errno == ENOENT) {
            *create = ::mkdirat(parent, name.c_str(), 0777) == 0;
            if (!*create && errno != EEXIST)
                fail("cannot create directory", path, errno);
            fd = ::openat(parent, name.c_str(), flags);
        }
    }
    if (fd < 0) {
        int error = errno;
        struct stat info {};
        if ((error == ENOTDIR || error == ELOOP) &&
            ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(info.st_mode))
                fail("path passes through a symbolic link", path, ELOOP);
            if (create)
                error = EEXIST;
        }
        fail("cannot open directory", path, error);
    }
    return Descriptor(fd);
}

// Walks from "/" through the root (links followed) and then through the
// first `count` components (links refused), creating what is missing when
// `created` is given; it then tells whether the last component below the
// root was made.
Descriptor openBelow(const fs::path &root, const std::vector<std::string> &components, size_t count,
                     bool *created)
{
    // The root is followed as the kernel resolves it: one open where it is
    // there, the walk only to make what is missing or to say what is wrong.
    Descriptor directory(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    fs::path walked = root;
    bool made = false;
    if (directory.get() < 0) {
        directory = Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (directory.get() < 0)
            fail("cannot open directory", "/", errno);
        walked = "/";
        for (const fs::path &component : root.relative_path()) {
            walked /= component;
            directory = openDirectory(directory.get(), component.native(), true,
                                      created ? &made : nullptr, walked);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        walked /= components[i];
        directory =
            openDirectory(directory.get(), components[i], false, created ? &made : nullptr, walked);
    }
    if (created)
        *created = count > 0 && made;
    return directory;
}

// Which folder a kept one is: the root, where links are followed, apart from
// the components below it, where none is.
std::string joined(const fs::path &root, const std::vector<std::string> &components, size_t count)
{
    std::string path = root.native() + '\0';
    for (size_t i = 0; i < count; ++i)
        (path += components[i]) += '/';
    return path;
}

bool canFallBack(int error)
{
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

// Copies the bytes in [from, to) to the same offsets, in the kernel while it
// can. Stops early at the end of a file that shrank; returns where it stopped.
off_t copyRange(int in, int out, off_t from, off_t to, bool &inKernel, std::vector<char> &buffer,
                const ItemLocation &path)
{
    off_t inOffset = from;
    off_t outOffset = from;
    while (inOffset < to) {
        const size_t wanted = size_t(std::min<off_t>(to - inOffset, off_t(1) << 30));
        if (inKernel) {
            const ssize_t copied = ::copy_file_range(in, &inOffset, out, &outOffset, wanted, 0);
            if (copied > 0)
                continue;
            if (copied == 0)
                return inOffset;
            if (errno == EINTR)
                continue;
            // File systems and kernels that cannot: go on with plain reads
            // from where the kernel stopped.
            if (!canFallBack(errno))
                fail("cannot copy file", path, errno);
            inKernel = false;
            buffer.resize(1 << 16);
        }
        const ssize_t got = ::pread(in, buffer.data(), std::min(buffer.size(), wanted), inOffset);
        if (got == 0)
            return inOffset;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot read file", path, errno);
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put =
                ::pwrite(out, buffer.data() + written, size_t(got - written), outOffset);
            if (put < 0 && errno != EINTR)
                fail("cannot write file", path, errno);
            if (put > 0) {
                written += put;
                outOffset += put;
            }
        }
        inOffset += got;
    }
    return inOffset;
}

// Copies only the data regions of a sparse file: the holes between them stay
// holes, so the copy takes no more room than the original. A file that
// shrinks meanwhile is copied at the size it had.
void copyContents(int in, int out, const struct stat &info, const ItemLocation &path)
{
    bool inKernel = true;
    std::vector<char> buffer;
    // A file with a block for every byte has no hole to look for.
    if (info.st_blocks * 512 >= info.st_size) {
        if (copyRange(in, out, 0, info.st_size, inKernel, buffer, path) != info.st_size &&
            ::ftruncate(out, info.st_size) != 0)
            fail("cannot write file", path, errno);
        return;
    }
    const off_t end = ::lseek(in, 0, SEEK_END);
    if (end < 0)
        fail("cannot read file", path, errno);
    for (off_t position = 0; position < end;) {
        off_t data = ::lseek(in, position, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break;
        off_t hole = data < 0 ? end : ::lseek(in, data, SEEK_HOLE);
        // Without hole information the rest is copied as it is.
        if (data < 0 || hole < 0) {
            data = position;
            hole = end;
        }
        copyRange(in, out, data, std::min(hole, end), inKernel, buffer, path);
        position = hole;
    }
    if (::ftruncate(out, end) != 0)
        fail("cannot write file", path, errno);
}

// False when the file vanished before it could be opened.
bool copyFile(int sourceParent, const std::string &name, int destinationParent,
              const std::string &destinationName, const ItemLocation &sourcePath,
              const ItemLocation &destinationPath)
{
    // Not blocking: a pipe swapped in since it was looked at must not hang us.
    Descriptor in(
        ::openat(sourceParent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0) {
        if (errno == ENOENT)
            return false;
        fail("cannot open file", sourcePath, errno);
    }
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        fail("cannot read attributes", sourcePath, errno);
    if (!S_ISREG(info.st_mode))
        fail("item changed while it was copied", sourcePath, EAGAIN);

    Descriptor out(::openat(destinationParent, destinationName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0)
        fail("cannot create file", destinationPath, errno);
    try {
        copyContents(in.get(), out.get(), info, destinationPath);
        const timespec times[2] = {info.st_atim, info.st_mtim};
        if (::fchmod(out.get(), info.st_mode & 07777) != 0)
            fail("cannot set permissions", destinationPath, errno);
        if (::futimens(out.get(), times) != 0)
            fail("cannot set times", destinationPath, errno);
        if (out.close() != 0)
            fail("cannot write file", destinationPath, errno);
    } catch (...) {
        // No half-written copy stays behind.
        out.close();
        ::unlinkat(destinationParent, destinationName.c_str(), 0);
        throw;
    }
    return true;
}

void copyLink(int sourceParent, const std::string &name, const struct stat &info,
              int destinationParent, const std::string &destinationName,
              const ItemLocation &sourcePath, const ItemLocation &destinationPath)
{
    std::string target(size_t(info.st_size > 0 ? info.st_size : 0) + 1, '\0');
    for (;;) {
        const ssize_t length =
            ::readlinkat(sourceParent, name.c_str(), target.data(), target.size());
        if (length < 0)
            fail("cannot read link", sourcePath, errno);
        if (size_t(length) < target.size()) {
            target.resize(size_t(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    if (::symlinkat(target.c_str(), destinationParent, destinationName.c_str()) != 0)
        fail("cannot create link", destinationPath, errno);
    // Not every file system keeps a link's own times; the link is what counts.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(destinationParent, destinationName.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

} // namespace

void ItemLocation::OpenFolders::clear()
{
    for (auto &folder : m_folders)
        ::close(folder.second);
    m_folders.clear();
}

int ItemLocation::OpenFolders::find(const std::string &path)
{
    for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder) {
        if (folder->first == path) {
            const int fd = folder->second;
            std::rotate(folder.base() - 1, folder.base(), m_folders.end());
            return fd;
        }
    }
    return -1;
}

bool ItemLocation::OpenFolders::holds(const std::string &path) const
{
    return std::any_of(m_folders.begin(), m_folders.end(),
                       [&](const auto &folder) { return folder.first == path; });
}

int ItemLocation::OpenFolders::keep(std::string path, int fd)
{
    // Enough for the two folders of a copy and their roots: what a caller
    // holds from this walk and the last one is never the one to go.
    constexpr size_t kept = 8;
    if (m_folders.size() >= kept) {
        ::close(m_folders.front().second);
        m_folders.erase(m_folders.begin());
    }
    m_folders.emplace_back(std::move(path), fd);
    return fd;
}

// The folder of the first `count` components, from `folders` when they hold
// it, else walked to from the root (or from the root kept there) and kept.
int ItemLocation::openKept(size_t count, bool *created, OpenFolders &folders) const
{
    std::string path = joined(m_root, m_components, count);
    if (const int fd = folders.find(path); fd >= 0) {
        if (created)
            *created = false;
        return fd;
    }
    const std::string rootKey = joined(m_root, m_components, 0);
    int root = folders.find(rootKey);
    if (root < 0) {
        bool madeAbove = false;
        root = folders.keep(rootKey,
                            openBelow(m_root, {}, 0, created ? &madeAbove : nullptr).release());
    }
    if (count == 0) {
        if (created)
            *created = false;
        return root;
    }
    Descriptor directory;
    bool made = false;
    fs::path walked = m_root;
    int parent = root;
    for (size_t i = 0; i < count; ++i) {
        walked /= m_components[i];
        directory =
            openDirectory(parent, m_components[i], false, created ? &made : nullptr, walked);
        parent = directory.get();
    }
    if (created)
        *created = made;
    return folders.keep(std::move(path), directory.release());
}

ItemLocation::ItemLocation(fs::path root, const fs::path &relative)
    : m_root(root.lexically_normal())
{
    if (m_root.native().size() > 1 && m_root.native().back() == '/')
        m_root = m_root.parent_path();
    if (!m_root.is_absolute())
        fail("not an absolute path", m_root, EINVAL);
    for (const fs::path &component : relative) {
        if (component.empty() || component == "/")
            continue;
        if (component == "." || component == "..")
            fail("not a plain path component", m_root / relative, EINVAL);
        m_components.push_back(component.native());
    }
}

ItemLocation ItemLocation::below(const fs::path &path, const fs::path &relative)
{
    // Mostly `path` is plain and ends in `relative`: then the two are split
    // as they are, without making and comparing paths component by component.
    const std::string &whole = path.native();
    std::string_view tail = relative.native();
    while (!tail.empty() && tail.back() == '/')
        tail.remove_suffix(1);
    std::string_view item = whole;
    if (item.size() > 1 && item.back() == '/')
        item.remove_suffix(1);
    if (!tail.empty() && tail.front() != '/' && item.size() > tail.size() + 1 &&
        item.front() == '/' && item.substr(item.size() - tail.size()) == tail &&
        item[item.size() - tail.size() - 1] == '/') {
        std::vector<std::string> components;
        bool plain = true;
        const auto split = [&](std::string_view text, bool keep) {
            for (size_t start = 0; plain && start <= text.size();) {
                const size_t end = std::min(text.find('/', start), text.size());
                const std::string_view name = text.substr(start, end - start);
                plain = !name.empty() && name != "." && name != "..";
                if (plain && keep)
                    components.emplace_back(name);
                start = end + 1;
            }
        };
        const std::string_view root = item.substr(0, item.size() - tail.size() - 1);
        if (!root.empty())
            split(root.substr(1), false);
        split(tail, true);
        if (plain)
            return ItemLocation(root.empty() ? fs::path("/") : fs::path(std::string(root)),
                                std::move(components));
    }

    const fs::path normal = path.lexically_normal();
    fs::path root = normal;
    bool matches = !relative.empty();
    std::vector<fs::path> wanted(relative.begin(), relative.end());
    while (!wanted.empty() && wanted.back().empty())
        wanted.pop_back();
    if (!root.has_filename())
        root = root.parent_path();
    for (auto component = wanted.rbegin(); matches && component != wanted.rend(); ++component) {
        if (*component == "." || *component == ".." || root.filename() != *component)
            matches = false;
        else
            root = root.parent_path();
    }
    if (matches && !wanted.empty())
        return ItemLocation(root, relative);
    const fs::path plain = normal.has_filename() ? normal : normal.parent_path();
    return ItemLocation(plain.parent_path(), plain.filename());
}

ItemLocation::ItemLocation(fs::path root, std::vector<std::string> components)
    : m_root(std::move(root)), m_components(std::move(components))
{
}

std::string ItemLocation::native() const
{
    std::string result = m_root.native();
    for (const std::string &component : m_components) {
        if (result.back() != '/')
            result += '/';
        result += component;
    }
    return result;
}

fs::path ItemLocation::path() const
{
    return native();
}

ItemLocation ItemLocation::parent() const
{
    ItemLocation location = *this;
    if (!location.m_components.empty())
        location.m_components.pop_back();
    return location;
}

ItemLocation::Attributes ItemLocation::attributes() const
{
    struct stat info {};
    if (m_components.empty()) {
        if (::stat(m_root.c_str(), &info) != 0)
            fail("cannot read attributes", m_root, errno);
    } else {
        const Descriptor parent = openBelow(m_root, m_components, m_components.size() - 1, nullptr);
        if (::fstatat(parent.get(), m_components.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            fail("cannot read attributes", path(), errno);
    }
    return {mode_t(info.st_mode & 07777), info.st_atim, info.st_mtim};
}

bool ItemLocation::isKeptIn(const OpenFolders &folders) const
{
    return folders.holds(joined(m_root, m_components, m_components.size()));
}

bool ItemLocation::makeDirectory(OpenFolders *folders) const
{
    bool created = false;
    if (folders)
        openKept(m_components.size(), &created, *folders);
    else
        openBelow(m_root, m_components, m_components.size(), &created);
    return created;
}

void ItemLocation::applyAttributes(const Attributes &attributes) const
{
    if (m_components.empty())
        fail("cannot change a root folder", m_root, EINVAL);
    const Descriptor parent = openBelow(m_root, m_components, m_components.size() - 1, nullptr);
    setDirectoryAttributes(parent.get(), m_components.back(), attributes, path());
}

ItemLocation::Copy ItemLocation::copyItem(const ItemLocation &destination,
                                          OpenFolders *folders) const
{
    if (m_components.empty() || destination.m_components.empty())
        fail("cannot copy a root folder", path(), EINVAL);
    OpenFolders own;
    OpenFolders &kept = folders ? *folders : own;
    int sourceParent = -1;
    try {
        sourceParent = openKept(m_components.size() - 1, nullptr, kept);
    } catch (const fs::filesystem_error &error) {
        if (error.code() == std::errc::no_such_file_or_directory)
            return Copy::missing;
        throw;
    }
    const std::string &name = m_components.back();
    struct stat info {};
    if (::fstatat(sourceParent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return Copy::missing;
        fail("cannot read attributes", path(), errno);
    }

    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode) && !S_ISDIR(info.st_mode))
        return Copy::special;

    const int destinationParent =
        destination.openKept(destination.m_components.size() - 1, nullptr, kept);
    const std::string &destinationName = destination.m_components.back();
    if (S_ISLNK(info.st_mode)) {
        copyLink(sourceParent, name, info, destinationParent, destinationName, *this, destination);
    } else if (S_ISDIR(info.st_mode)) {
        if (::mkdirat(destinationParent, destinationName.c_str(), 0700) != 0)
            fail("cannot create directory", destination.path(), errno);
        setDirectoryAttributes(destinationParent, destinationName,
                               {mode_t(info.st_mode & 07777), info.st_atim, info.st_mtim},
                               destination.path());
    } else if (!copyFile(sourceParent, name, destinationParent, destinationName, *this,
                         destination)) {
        return Copy::missing;
    }
    return Copy::copied;
}

} // namespace corvane
