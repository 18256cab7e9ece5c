#include "platform/files/RegularFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvane {

RegularFile::RegularFile(const QString &path)
{
    open(QFile::encodeName(path).toStdString());
}

RegularFile::RegularFile(const std::filesystem::path &path)
{
    open(path.native());
}

RegularFile::~RegularFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

RegularFile::RegularFile(RegularFile &&other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_error(other.m_error),
      m_errorNumber(other.m_errorNumber), m_size(other.m_size)
{
}

RegularFile &RegularFile::operator=(RegularFile &&other) noexcept
{
    if (this != &other) {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
        m_error = other.m_error;
        m_errorNumber = other.m_errorNumber;
        m_size = other.m_size;
    }
    return *this;
}

void RegularFile::open(const std::string &nativePath)
{
    // Looked at before it is opened, so that no device is ever opened.
    struct stat status {};
    if (::stat(nativePath.c_str(), &status) != 0) {
        fail(errno == ENOENT || errno == ENOTDIR ? Error::missing : Error::cannotOpen, errno);
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        fail(Error::notRegular, 0);
        return;
    }
    int descriptor;
    do {
        descriptor = ::open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        fail(errno == ENOENT ? Error::missing : Error::cannotOpen, errno);
        return;
    }
    // Something else may have been put in its place meanwhile.
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        fail(Error::notRegular, 0);
        return;
    }
    m_descriptor = descriptor;
    m_size = status.st_size;
}

void RegularFile::fail(Error error, int errorNumber)
{
    m_error = error;
    m_errorNumber = errorNumber;
}

int RegularFile::release()
{
    return std::exchange(m_descriptor, -1);
}

qint64 RegularFile::read(char *buffer, qint64 length)
{
    if (m_descriptor < 0)
        return -1;
    ssize_t count;
    do {
        count = ::read(m_descriptor, buffer, size_t(length));
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        fail(Error::cannotRead, errno);
    return count;
}

std::optional<QByteArray> RegularFile::readAll(qint64 maxBytes)
{
    if (m_descriptor < 0)
        return std::nullopt;
    if (m_size > maxBytes) {
        fail(Error::tooLarge, 0);
        return std::nullopt;
    }
    // One byte beyond the limit tells a file that grew past it.
    QByteArray bytes(std::min(m_size, maxBytes) + 1, Qt::Uninitialized);
    qint64 filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > maxBytes) {
                fail(Error::tooLarge, 0);
                return std::nullopt;
            }
            bytes.resize(std::min(filled * 2, maxBytes + 1));
        }
        const qint64 count = read(bytes.data() + filled, bytes.size() - filled);
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        filled += count;
    }
    if (filled > maxBytes) {
        fail(Error::tooLarge, 0);
        return std::nullopt;
    }
    bytes.truncate(filled);
    return bytes;
}

std::optional<QByteArray> RegularFile::readWhole(const QString &path, qint64 maxBytes)
{
    return RegularFile(path).readAll(maxBytes);
}

int RegularFile::openLock(const QString &path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat info {};
    if (descriptor >= 0 && (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(descriptor);
        errno = EINVAL;
        return -1;
    }
    return descriptor;
}

QString RegularFile::errorDescription(const QString &path, qint64 maxBytes) const
{
    return describe(m_error, path, maxBytes, m_errorNumber);
}

QString RegularFile::describe(Error error, const QString &path, qint64 maxBytes, int errorNumber)
{
    const QString reason = errorNumber ? QString::fromLocal8Bit(std::strerror(errorNumber)) : "";
    switch (error) {
    case Error::none: break;
    case Error::missing: return path + " could not be opened: there is no such file.";
    case Error::notRegular: return path + " could not be opened: it is no regular file.";
    case Error::cannotOpen: return path + " could not be opened: " + reason + ".";
    case Error::tooLarge:
        return path + " is larger than " + QString::number(maxBytes / (1024 * 1024)) +
               " MiB and was not read.";
    case Error::cannotRead: return path + " could not be read: " + reason + ".";
    }
    return {};
}

} // namespace corvane
