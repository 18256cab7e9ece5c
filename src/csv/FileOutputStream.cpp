#include "csv/FileOutputStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::size_t bufferCapacity = 64 * 1024;

} // namespace

FileOutputStream::FileOutputStream(std::filesystem::path path) : path_(std::move(path))
{
}

FileOutputStream::~FileOutputStream()
{
    if (descriptor_ >= 0)
        close();
}

void FileOutputStream::open()
{
    if (status() != StreamStatus::notOpen)
        return;
    do {
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (descriptor_ < 0 && errno == EINTR);
    if (descriptor_ < 0) {
        fail(path_.string() + ": " + std::strerror(errno));
        return;
    }
    buffer_.reserve(bufferCapacity);
    setStatus(StreamStatus::open);
}

bool FileOutputStream::flush()
{
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t count = ::write(descriptor_, buffer_.data() + done, buffer_.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            fail(path_.string() + ": " + (count < 0 ? std::strerror(errno) : "nothing written"));
            buffer_.clear();
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    buffer_.clear();
    return true;
}

std::ptrdiff_t FileOutputStream::writeOpen(const std::uint8_t *bytes, std::size_t length)
{
    if (buffer_.size() + length > bufferCapacity && !flush())
        return -1;
    if (length >= bufferCapacity) {
        buffer_.assign(bytes, bytes + length);
        return flush() ? static_cast<std::ptrdiff_t>(length) : -1;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + length);
    return static_cast<std::ptrdiff_t>(length);
}

void FileOutputStream::close()
{
    if (descriptor_ >= 0) {
        if (status() == StreamStatus::open)
            flush();
        // A failed flush already told why; a failed close comes second.
        if (::close(descriptor_) != 0 && errno != EINTR && status() != StreamStatus::error)
            fail(path_.string() + ": " + std::strerror(errno));
        descriptor_ = -1;
    }
    if (status() != StreamStatus::error)
        setStatus(StreamStatus::closed);
}

} // namespace corvane
