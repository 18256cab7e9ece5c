#include "csv/MemoryOutputStream.h"

namespace corvane {

void MemoryOutputStream::open()
{
    if (status() == StreamStatus::notOpen)
        setStatus(StreamStatus::open);
}

std::ptrdiff_t MemoryOutputStream::writeOpen(const std::uint8_t *bytes, std::size_t length)
{
    bytes_.append(reinterpret_cast<const char *>(bytes), length);
    return static_cast<std::ptrdiff_t>(length);
}

void MemoryOutputStream::close()
{
    setStatus(StreamStatus::closed);
}

} // namespace corvane
