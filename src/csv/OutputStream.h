#pragma once

#include "csv/Stream.h"

#include <cstddef>
#include <cstdint>

namespace corvane {

// A destination of bytes written in order: a file, a block of memory.
class OutputStream : public Stream {
public:
    // Writes up to `length` bytes: the count taken, which may be short,
    // negative on failure or when the stream is not open.
    std::ptrdiff_t write(const std::uint8_t *bytes, std::size_t length)
    {
        if (status() != StreamStatus::open)
            return -1;
        if (length == 0)
            return 0;
        return writeOpen(bytes, length);
    }

protected:
    // `write` on an open stream, for at least one byte.
    virtual std::ptrdiff_t writeOpen(const std::uint8_t *bytes, std::size_t length) = 0;
};

} // namespace corvane
