#pragma once

#include "csv/Stream.h"

#include <cstddef>
#include <cstdint>

namespace corvane {

// A source of bytes read once, in order: a file, a block of memory.
class InputStream : public Stream {
public:
    // Reads up to `maxLength` bytes into `buffer`: the count read, 0 at the
    // end, negative on failure or when the stream is not open.
    std::ptrdiff_t read(std::uint8_t *buffer, std::size_t maxLength)
    {
        if (status() == StreamStatus::atEnd || maxLength == 0)
            return 0;
        if (status() != StreamStatus::open)
            return -1;
        return readOpen(buffer, maxLength);
    }
    // Whether a read would give bytes (or report a failure) rather than the end.
    virtual bool hasBytesAvailable() = 0;

protected:
    // `read` on an open stream, for at least one byte.
    virtual std::ptrdiff_t readOpen(std::uint8_t *buffer, std::size_t maxLength) = 0;
};

} // namespace corvane
