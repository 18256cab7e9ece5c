#include "csv/MemoryInputStream.h"

#include <algorithm>
#include <cstring>

namespace corvane {

MemoryInputStream::MemoryInputStream(std::string bytes) : bytes_(std::move(bytes))
{
}

void MemoryInputStream::open()
{
    if (status() == StreamStatus::notOpen)
        setStatus(StreamStatus::open);
}

std::ptrdiff_t MemoryInputStream::readOpen(std::uint8_t *buffer, std::size_t maxLength)
{
    const std::size_t count = std::min(maxLength, bytes_.size() - offset_);
    if (count == 0) {
        setStatus(StreamStatus::atEnd);
        return 0;
    }
    std::memcpy(buffer, bytes_.data() + offset_, count);
    offset_ += count;
    return static_cast<std::ptrdiff_t>(count);
}

bool MemoryInputStream::hasBytesAvailable()
{
    return status() == StreamStatus::open && offset_ < bytes_.size();
}

void MemoryInputStream::close()
{
    setStatus(StreamStatus::closed);
}

} // namespace corvane
