#include "csv/FileInputStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace corvane {

FileInputStream::FileInputStream(std::filesystem::path path) : path_(std::move(path))
{
}

FileInputStream::FileInputStream(std::filesystem::path path, int descriptor)
    : path_(std::move(path)), descriptor_(descriptor)
{
}

FileInputStream::~FileInputStream()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

void FileInputStream::open()
{
    if (status() != StreamStatus::notOpen)
        return;
    if (descriptor_ >= 0) {
        setStatus(StreamStatus::open);
        return;
    }
    do {
        descriptor_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    } while (descriptor_ < 0 && errno == EINTR);
    if (descriptor_ < 0) {
        fail(path_.string() + ": " + std::strerror(errno));
        return;
    }
    setStatus(StreamStatus::open);
}

std::ptrdiff_t FileInputStream::readFromDescriptor(std::uint8_t *buffer, std::size_t maxLength)
{
    ssize_t count;
    do {
        count = ::read(descriptor_, buffer, maxLength);
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        fail(path_.string() + ": " + std::strerror(errno));
    else if (count == 0)
        setStatus(StreamStatus::atEnd);
    return count;
}

std::ptrdiff_t FileInputStream::readOpen(std::uint8_t *buffer, std::size_t maxLength)
{
    std::ptrdiff_t taken = 0;
    if (lookAhead_) {
        buffer[0] = *lookAhead_;
        lookAhead_.reset();
        taken = 1;
        if (maxLength == 1)
            return 1;
    }
    const std::ptrdiff_t count = readFromDescriptor(buffer + taken, maxLength - taken);
    // A failure after the look-ahead byte is reported by the next read.
    if (count < 0)
        return taken > 0 ? taken : count;
    return taken + count;
}

bool FileInputStream::hasBytesAvailable()
{
    switch (status()) {
    case StreamStatus::open: break;
    case StreamStatus::error: return true; // the next read reports the failure
    default: return false;
    }
    if (lookAhead_)
        return true;
    std::uint8_t byte;
    const std::ptrdiff_t count = readFromDescriptor(&byte, 1);
    if (count > 0)
        lookAhead_ = byte;
    return count != 0;
}

void FileInputStream::close()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
    lookAhead_.reset();
    setStatus(StreamStatus::closed);
}

} // namespace corvane
