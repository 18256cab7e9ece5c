#include "tasks/ItemLocation.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
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

std::string encoded(const QString &text)
{
    return QFile::encodeName(text).toStdString();
}

[[noreturn]] void fail(const char *what, const QString &path, int error)
{
    throw fs::filesystem_error(what, fs::path(encoded(path)),
                               std::error_code(error, std::generic_category()));
}

// Gives a directory we have just created its attributes. It was created
// owner-accessible, so it can be opened to change it through its descriptor.
void applyAttributes(int parent, const std::string &name,
                     const ItemLocation::Attributes &attributes, const QString &path)
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

// Opens `name` in `parent` as a directory, first creating it when `create` is
// given. Only the root's own components are followed when they are links.
Descriptor openDirectory(const Descriptor &parent, const QString &name, bool follow,
                         const std::optional<ItemLocation::Attributes> *create, const QString &path)
{
    const std::string raw = encoded(name);
    bool created = false;
    if (create) {
        if (::mkdirat(parent.get(), raw.c_str(), create->has_value() ? 0700 : 0777) == 0)
            created = true;
        else if (errno != EEXIST)
            fail("cannot create directory", path, errno);
    }
    const int fd = ::openat(parent.get(), raw.c_str(),
                            O_PATH | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        int error = errno;
        struct stat info {};
        if ((error == ENOTDIR || error == ELOOP) &&
            ::fstatat(parent.get(), raw.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(info.st_mode))
                fail("path passes through a symbolic link", path, ELOOP);
            if (create)
                error = EEXIST;
        }
        fail("cannot open directory", path, error);
    }
    Descriptor directory(fd);
    if (created && create->has_value())
        applyAttributes(parent.get(), raw, **create, path);
    return directory;
}

// Walks from "/" through the root (links followed) and then through the
// first `count` components (links refused).
Descriptor openBelow(const QString &root, const QStringList &components, qsizetype count,
                     const std::optional<ItemLocation::Attributes> *create)
{
    Descriptor directory(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0)
        fail("cannot open directory", "/", errno);
    QString walked;
    for (const QString &component : root.split('/', Qt::SkipEmptyParts)) {
        walked += '/' + component;
        directory = openDirectory(directory, component, true, create, walked);
    }
    for (qsizetype i = 0; i < count; ++i) {
        walked += '/' + components[i];
        directory = openDirectory(directory, components[i], false, create, walked);
    }
    return directory;
}

void copyContents(int in, int out, const QString &path)
{
    bool inKernel = true;
    std::vector<char> buffer;
    for (;;) {
        if (inKernel) {
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (copied > 0)
                continue;
            if (copied == 0)
                return;
            if (errno == EINTR)
                continue;
            // File systems and kernels that cannot: go on with plain reads
            // from where the kernel stopped.
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
                fail("cannot copy file", path, errno);
            inKernel = false;
            buffer.resize(1 << 16);
        }
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0)
            return;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot read file", path, errno);
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(out, buffer.data() + written, size_t(got - written));
            if (put < 0 && errno != EINTR)
                fail("cannot write file", path, errno);
            if (put > 0)
                written += put;
        }
    }
}

// False when the file vanished before it could be opened.
bool copyFile(int sourceParent, const std::string &name, int destinationParent,
              const std::string &destinationName, const QString &sourcePath,
              const QString &destinationPath)
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
        copyContents(in.get(), out.get(), destinationPath);
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
              int destinationParent, const std::string &destinationName, const QString &sourcePath,
              const QString &destinationPath)
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

ItemLocation::ItemLocation(QString root, QStringList components)
    : m_root(QDir::cleanPath(root)), m_components(std::move(components))
{
    if (!m_root.startsWith('/'))
        fail("not an absolute path", m_root, EINVAL);
    for (const QString &component : m_components)
        if (component.isEmpty() || component == "." || component == ".." || component.contains('/'))
            fail("not a plain path component", path(), EINVAL);
}

ItemLocation ItemLocation::below(const QUrl &url, const QString &relativePath)
{
    const QString path = QDir::cleanPath(url.toLocalFile());
    const QStringList components = relativePath.split('/', Qt::SkipEmptyParts);
    const QString relative = components.join('/');
    if (!relative.isEmpty() && path.endsWith('/' + relative) && !components.contains(".") &&
        !components.contains("..")) {
        const QString root = path.left(path.size() - relative.size() - 1);
        return ItemLocation(root.isEmpty() ? "/" : root, components);
    }
    const qsizetype slash = path.lastIndexOf('/');
    return ItemLocation(slash <= 0 ? "/" : path.left(slash), {path.mid(slash + 1)});
}

QString ItemLocation::path() const
{
    if (m_components.isEmpty())
        return m_root;
    return (m_root == "/" ? QString() : m_root) + '/' + m_components.join('/');
}

ItemLocation ItemLocation::parent() const
{
    return ItemLocation(m_root,
                        m_components.mid(0, std::max<qsizetype>(m_components.size() - 1, 0)));
}

ItemLocation::Attributes ItemLocation::attributes() const
{
    struct stat info {};
    if (m_components.isEmpty()) {
        if (::stat(encoded(m_root).c_str(), &info) != 0)
            fail("cannot read attributes", m_root, errno);
    } else {
        const Descriptor parent = openBelow(m_root, m_components, m_components.size() - 1, nullptr);
        if (::fstatat(parent.get(), encoded(m_components.last()).c_str(), &info,
                      AT_SYMLINK_NOFOLLOW) != 0)
            fail("cannot read attributes", path(), errno);
    }
    return {mode_t(info.st_mode & 07777), info.st_atim, info.st_mtim};
}

void ItemLocation::makeDirectory(const std::optional<Attributes> &attributes) const
{
    openBelow(m_root, m_components, m_components.size(), &attributes);
}

bool ItemLocation::copyItem(const ItemLocation &destination) const
{
    if (m_components.isEmpty() || destination.m_components.isEmpty())
        fail("cannot copy a root folder", path(), EINVAL);
    Descriptor sourceParent;
    try {
        sourceParent = openBelow(m_root, m_components, m_components.size() - 1, nullptr);
    } catch (const fs::filesystem_error &error) {
        if (error.code() == std::errc::no_such_file_or_directory)
            return false;
        throw;
    }
    const std::string name = encoded(m_components.last());
    struct stat info {};
    if (::fstatat(sourceParent.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        fail("cannot read attributes", path(), errno);
    }

    const Descriptor destinationParent = openBelow(destination.m_root, destination.m_components,
                                                   destination.m_components.size() - 1, nullptr);
    const std::string destinationName = encoded(destination.m_components.last());
    if (S_ISLNK(info.st_mode)) {
        copyLink(sourceParent.get(), name, info, destinationParent.get(), destinationName, path(),
                 destination.path());
    } else if (S_ISDIR(info.st_mode)) {
        if (::mkdirat(destinationParent.get(), destinationName.c_str(), 0700) != 0)
            fail("cannot create directory", destination.path(), errno);
        applyAttributes(destinationParent.get(), destinationName,
                        {mode_t(info.st_mode & 07777), info.st_atim, info.st_mtim},
                        destination.path());
    } else if (S_ISREG(info.st_mode)) {
        return copyFile(sourceParent.get(), name, destinationParent.get(), destinationName, path(),
                        destination.path());
    }
    return true;
}

} // namespace corvane
